#pragma once
// Keys of the screens: a command key reaches its command whatever control
// has the focus, and Esc is a key only where a screen gives it one.
class QDialog;
class QKeyEvent;
class QObject;

namespace kui {

// Whether the key is the shortcut of an enabled command (an action with a
// shortcut, added to a widget) of the window that holds receiver. The
// application object then keeps the focused editor from taking the key for
// its own use (select-all, copy, delete-word ...), so the command runs.
bool IsWindowCommandKey(const QObject* receiver, const QKeyEvent* key);

// Esc does nothing on the dialog: it neither closes nor cancels it. For
// the screens without a cancel button and without a meaning of their own
// for Esc. A control that uses Esc itself (an open drop-down list, a grid
// cell's editor) still gets it first.
void EscapeDoesNothing(QDialog* dialog);

}  // namespace kui
