#include "platform/ui/ScreenKeys.h"

#include <QAction>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>

namespace kui {

namespace {

// Swallows the Esc that no control of the dialog took.
class EscapeFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parent() && event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape) {
                key->accept();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// An action whose shortcut works in window: added to a widget of it.
bool ActsIn(const QAction* action, const QWidget* window)
{
    for (const QObject* o : action->associatedObjects()) {
        const auto* w = qobject_cast<const QWidget*>(o);
        if (w && !qobject_cast<const QMenu*>(w) && w->window() == window)
            return true;
    }
    return false;
}

}  // namespace

bool IsWindowCommandKey(const QObject* receiver, const QKeyEvent* key)
{
    const auto* widget = qobject_cast<const QWidget*>(receiver);
    if (!widget || key->key() == Qt::Key_unknown)
        return false;
    const QWidget* window = widget->window();
    if (!window || qobject_cast<const QMenu*>(window))
        return false;
    const int modifiers = static_cast<int>(key->modifiers() & ~Qt::KeypadModifier);
    if (!(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
        !(key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35))
        return false;  // typing keys stay the editor's
    const QKeySequence pressed(key->key() | modifiers);
    QList<QAction*> actions = window->actions();
    actions += window->findChildren<QAction*>();
    for (const QAction* a : actions) {
        if (!a->isEnabled() || a->shortcutContext() == Qt::WidgetShortcut)
            continue;
        bool matches = false;
        for (const QKeySequence& s : a->shortcuts())
            matches = matches || s == pressed;
        if (matches && ActsIn(a, window))
            return true;
    }
    return false;
}

void EscapeDoesNothing(QDialog* dialog)
{
    dialog->installEventFilter(new EscapeFilter(dialog));
}

}  // namespace kui
