#include "platform/ui/Messages.h"
#include "platform/ui/Application.h"

#include <QAbstractButton>
#include <QApplication>

namespace kui {

namespace {

DialogMessageService& DialogService()
{
    static DialogMessageService service;
    return service;
}

MessageService* g_service = nullptr;

QString FrenchText(MsgButton button)
{
    switch (button) {
    case QMessageBox::Ok: return QStringLiteral("OK");
    case QMessageBox::Cancel: return QStringLiteral("Annuler");
    case QMessageBox::Yes: return QStringLiteral("&Oui");
    case QMessageBox::No: return QStringLiteral("&Non");
    case QMessageBox::Abort: return QStringLiteral("&Abandonner");
    case QMessageBox::Retry: return QStringLiteral("&Réessayer");
    case QMessageBox::Ignore: return QStringLiteral("&Ignorer");
    default: return {};
    }
}

} // namespace

QString DefaultCaption(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Error: return QStringLiteral("Erreur");
    case MsgKind::Information: return QStringLiteral("Information");
    case MsgKind::Warning: return QStringLiteral("Avertissement");
    case MsgKind::Confirmation: return QStringLiteral("Confirmation");
    case MsgKind::Plain: break;
    }
    return TApplication::Title();
}

MsgButton DialogMessageService::Show(const MsgRequest& request)
{
    QMessageBox box(request.parent);
    switch (request.kind) {
    case MsgKind::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgKind::Information: box.setIcon(QMessageBox::Information); break;
    case MsgKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    case MsgKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    }
    box.setWindowTitle(request.caption);
    box.setTextFormat(Qt::PlainText);
    // A carriage return in a message starts a new line.
    QString text = request.text;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(text);
    box.setStandardButtons(request.buttons);
    for (QAbstractButton* b : box.buttons()) {
        const QString french = FrenchText(box.standardButton(b));
        if (!french.isEmpty())
            b->setText(french);
    }
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    const int result = box.exec();
    const auto chosen = static_cast<MsgButton>(result);
    if (request.buttons.testFlag(chosen))
        return chosen;
    // Closed through the title bar: the escape button.
    if (request.buttons.testFlag(QMessageBox::Cancel))
        return QMessageBox::Cancel;
    if (request.buttons.testFlag(QMessageBox::No))
        return QMessageBox::No;
    return QMessageBox::Ok;
}

MessageService* SetMessageService(MessageService* service)
{
    MessageService* previous = g_service;
    g_service = service;
    return previous;
}

MessageService& CurrentMessageService()
{
    return g_service ? *g_service : DialogService();
}

MsgButton ShowMessageBox(MsgKind kind, const QString& text, MsgButtons buttons, const QString& caption,
                         QWidget* parent, MsgButton defaultButton)
{
    MsgRequest request;
    request.kind = kind;
    request.text = text;
    request.caption = caption.isEmpty() ? DefaultCaption(kind) : caption;
    request.buttons = buttons;
    request.defaultButton = defaultButton;
    request.parent = parent ? parent : QApplication::activeWindow();
    return CurrentMessageService().Show(request);
}

void MsgError(const QString& text, QWidget* parent)
{
    ShowMessageBox(MsgKind::Error, text, QMessageBox::Ok, {}, parent);
}

void MsgInformation(const QString& text, QWidget* parent)
{
    ShowMessageBox(MsgKind::Information, text, QMessageBox::Ok, {}, parent);
}

void MsgWarning(const QString& text, QWidget* parent)
{
    ShowMessageBox(MsgKind::Warning, text, QMessageBox::Ok, {}, parent);
}

void MsgPlain(const QString& text, QWidget* parent)
{
    ShowMessageBox(MsgKind::Plain, text, QMessageBox::Ok, {}, parent);
}

bool MsgConfirm(const QString& text, QWidget* parent)
{
    return ShowMessageBox(MsgKind::Confirmation, text, QMessageBox::Yes | QMessageBox::No, {}, parent,
                          QMessageBox::Yes)
        == QMessageBox::Yes;
}

MsgButton MsgYesNoCancel(const QString& text, MsgKind kind, QWidget* parent)
{
    return ShowMessageBox(kind, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, {}, parent,
                          QMessageBox::Yes);
}

MsgButton RecordingMessageService::Show(const MsgRequest& request)
{
    records_.append(Record{request.kind, request.text, request.caption, request.buttons});
    if (!answers_.isEmpty()) {
        const MsgButton answer = answers_.takeFirst();
        if (request.buttons.testFlag(answer))
            return answer;
    }
    if (defaultAnswer_ != QMessageBox::NoButton && request.buttons.testFlag(defaultAnswer_))
        return defaultAnswer_;
    if (request.buttons.testFlag(QMessageBox::Cancel))
        return QMessageBox::Cancel;
    if (request.buttons.testFlag(QMessageBox::No))
        return QMessageBox::No;
    return QMessageBox::Ok;
}

} // namespace kui
