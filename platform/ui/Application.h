#pragma once
#include <QApplication>
#include <QIcon>
#include <QString>
#include <QStyle>

#include <exception>
#include <functional>

namespace kui {

// The application object. Exceptions never cross the event loop: notify()
// catches them. The silent abort ends the action without a message; any
// other exception goes to the installed exception handler (by default a
// plain box with the exception's message).
class TApplication : public QApplication {
    Q_OBJECT
public:
    using ExceptionHandler = std::function<void(const std::exception&)>;

    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Replaces the handler of the exceptions that reach the application;
    // an empty function puts the default one back. Returns the previous one.
    static ExceptionHandler SetExceptionHandler(ExceptionHandler handler);

    // Routes an exception as notify() does: silent abort swallowed, anything
    // else to the handler. For code that catches outside of an event.
    static void HandleException(const std::exception& e);
    static void HandleCurrentException();  // inside a catch block

    // The application title ("Suivi des patients"), caption of plain boxes.
    static QString Title();
    static void SetTitle(const QString& title);

    // Loads the French translations of the standard dialogs and buttons.
    // Returns false when they are not installed.
    bool LoadFrenchTranslations();
};

// A window with a fixed border: the larger of its current size and its
// layout's size, which the user cannot change (no maximise button either).
void SetFixedBorder(QWidget* window);
// Moves a top-level window to the middle of the screen (its top-left corner
// kept on the screen when it is larger).
void CentreOnScreen(QWidget* window);
// Centres the window on the screen each time it is shown, once its layout
// has given it its size (a dialog is placed before that otherwise).
void CentreOnScreenWhenShown(QWidget* window);

// The desktop icon theme's glyph of that freedesktop name, else the style's
// standard picture.
QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback);

// The default handler: the message alone in a plain box.
void DefaultExceptionHandler(const std::exception& e);

}  // namespace kui
