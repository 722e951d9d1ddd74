#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/os/Abort.h"

#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

#include <algorithm>
#include <clocale>
#include <stdexcept>

namespace kui {

namespace {

TApplication::ExceptionHandler& Handler()
{
    static TApplication::ExceptionHandler handler;
    return handler;
}

QString& TitleText()
{
    static QString title;
    return title;
}

// The kinds the file dialogs show in their "Type" column for what is not a
// file (a file's kind is its type's own description, in the program's
// language): the toolkit's French translations lack them.
class FileKindWords : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0 || !sourceText)
            return {};
        static const QHash<QByteArray, QString> words{{"Drive", QStringLiteral("Lecteur")},
            {"Folder", QStringLiteral("Dossier")}, {"File Folder", QStringLiteral("Dossier")},
            {"Alias", QStringLiteral("Alias")}, {"Shortcut", QStringLiteral("Raccourci")},
            {"Unknown", QStringLiteral("Inconnu")}};
        return words.value(QByteArray(sourceText));
    }
};

class UnknownException : public std::runtime_error {
public:
    UnknownException() : std::runtime_error("Erreur inconnue") { }
};

}  // namespace

void DefaultExceptionHandler(const std::exception& e)
{
    MsgPlain(ExceptionText(e));
}

void SetFixedBorder(QWidget* window)
{
    window->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    window->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    window->setFixedSize(window->size().expandedTo(window->sizeHint()));
}

QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

void CentreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect r = window->frameGeometry();
    r.moveCenter(area.center());
    window->move(std::max(r.left(), area.left()), std::max(r.top(), area.top()));
}

namespace {

class CentreWhenShown : public QObject {
public:
    explicit CentreWhenShown(QWidget* window) : QObject(window) { window->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched == parent() && !event->spontaneous())
            CentreOnScreen(static_cast<QWidget*>(watched));
        return false;
    }
};

}  // namespace

void CentreOnScreenWhenShown(QWidget* window)
{
    new CentreWhenShown(window);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The application object takes the desktop's locale for the C library;
    // numbers keep the process formats' "." (tables, SQL texts, printing).
    std::setlocale(LC_NUMERIC, "C");
}

TApplication::~TApplication() = default;

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        // A command key of the window goes to its command, not to the
        // focused editor's own use of it: the editor is not asked.
        if (event->type() == QEvent::ShortcutOverride &&
            IsWindowCommandKey(receiver, static_cast<const QKeyEvent*>(event))) {
            event->ignore();
            return false;
        }
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleCurrentException();
    }
    return false;
}

TApplication::ExceptionHandler TApplication::SetExceptionHandler(ExceptionHandler handler)
{
    ExceptionHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void TApplication::HandleException(const std::exception& e)
{
    if (dynamic_cast<const EAbort*>(&e))
        return;
    // A handler that throws must not take the event loop down with it.
    try {
        if (Handler())
            Handler()(e);
        else
            DefaultExceptionHandler(e);
    } catch (...) {
    }
}

void TApplication::HandleCurrentException()
{
    try {
        throw;
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(UnknownException());
    }
}

QString TApplication::Title()
{
    return TitleText();
}

void TApplication::SetTitle(const QString& title)
{
    TitleText() = title;
}

bool TApplication::LoadFrenchTranslations()
{
    // Installed first: the toolkit's own translations win where they have
    // a word.
    installTranslator(new FileKindWords(this));
    auto* translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::French, QLocale::France), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

}  // namespace kui
