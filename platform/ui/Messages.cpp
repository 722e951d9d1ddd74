#include "platform/ui/Messages.h"
#include "platform/ui/Application.h"
#include "platform/db/core/DbError.h"
#include "platform/os/SystemError.h"

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
    case QMessageBox::Ok:
        return QStringLiteral("OK");
    case QMessageBox::Cancel:
        return QStringLiteral("Annuler");
    case QMessageBox::Yes:
        return QStringLiteral("&Oui");
    case QMessageBox::No:
        return QStringLiteral("&Non");
    case QMessageBox::Abort:
        return QStringLiteral("&Abandonner");
    case QMessageBox::Retry:
        return QStringLiteral("&Réessayer");
    case QMessageBox::Ignore:
        return QStringLiteral("&Ignorer");
    default:
        return {};
    }
}

}  // namespace

QString DefaultCaption(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Error:
        return QStringLiteral("Erreur");
    case MsgKind::Information:
        return QStringLiteral("Information");
    case MsgKind::Warning:
        return QStringLiteral("Avertissement");
    case MsgKind::Confirmation:
        return QStringLiteral("Confirmation");
    case MsgKind::Plain:
        break;
    }
    return TApplication::Title();
}

MsgButton DialogMessageService::Show(const MsgRequest& request)
{
    // A box over a window that is not on the screen (the main window while
    // the program starts) stands in the middle of the screen instead.
    QMessageBox box(request.parent && request.parent->isVisible() ? request.parent : nullptr);
    switch (request.kind) {
    case MsgKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgKind::Plain:
        box.setIcon(QMessageBox::NoIcon);
        break;
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

MsgButton ShowMessageBox(MsgKind kind, const QString& text, MsgButtons buttons, const QString& caption, QWidget* parent,
    MsgButton defaultButton)
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
               QMessageBox::Yes) == QMessageBox::Yes;
}

MsgButton MsgYesNoCancel(const QString& text, MsgKind kind, QWidget* parent)
{
    return ShowMessageBox(
        kind, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, {}, parent, QMessageBox::Yes);
}

namespace {

struct EngineText {
    int code;
    const char* lead;  // what happened, followed by the file's name
    const char* advice;  // what to do; nullptr when there is nothing to do
};

const char* const kRestore = "Restaurez ce fichier depuis une sauvegarde.";
const char* const kReindex = "Lancez « Outils / Réindexation ».";

const EngineText kEngineTexts[] = {
    {kdb::DBERR_EOF, "Fin des données atteinte", nullptr},
    {kdb::DBERR_RECDELETED, "Cet enregistrement a été supprimé sur un autre poste dans la table", nullptr},
    {kdb::DBERR_READERR, "Lecture impossible du fichier", kRestore},
    {kdb::DBERR_WRITEERR, "Écriture impossible dans le fichier",
        "Vérifiez qu'il reste de la place sur le disque et que le fichier n'est pas protégé."},
    {kdb::DBERR_HEADERCORRUPT, "Table endommagée ou d'un autre programme (en-tête incorrect)", kRestore},
    {kdb::DBERR_FILECORRUPT, "Données endommagées dans la table", kRestore},
    {kdb::DBERR_MEMOCORRUPT, "Textes longs (mémos) endommagés pour la table", kRestore},
    {kdb::DBERR_INDEXCORRUPT, "Index endommagé pour la table", kReindex},
    {kdb::DBERR_INDEXOUTOFDATE, "Un index ne correspond plus à la table", kReindex},
    {kdb::DBERR_NOSUCHINDEX, "La table n'a pas l'index dont cet écran a besoin (fichier d'index absent ou incomplet)",
        "Lancez « Outils / Réindexation » pour le créer."},
    {kdb::DBERR_KEYVIOL, "Cette valeur existe déjà dans la table", "Saisissez-en une autre."},
    {kdb::DBERR_INVALIDPARAM, "Valeur ou paramètre incorrect pour la table", nullptr},
    {kdb::DBERR_INVALIDHNDL, "Table non ouverte", nullptr},
    {kdb::DBERR_NOSUCHTABLE, "Table introuvable",
        "Vérifiez qu'elle n'a pas été déplacée ou supprimée, ou restaurez-la depuis une sauvegarde."},
    {kdb::DBERR_LOCKED, "Enregistrement verrouillé par un autre programme dans la table", "Réessayez dans un instant."},
    {kdb::DBERR_OPENFAILED, "Impossible d'ouvrir le fichier",
        "Vérifiez qu'il existe et que vous avez le droit de le lire."},
    {kdb::DBERR_NOTSUFFTABLERIGHTS, "Impossible d'écrire dans le fichier",
        "Le fichier ou son répertoire est en lecture seule : vérifiez ses droits d'accès."},
    {kdb::DBERR_FILELOCKED, "Table utilisée par un autre programme ou une autre fenêtre",
        "Fermez-les puis recommencez."},
    {kdb::DBERR_NEEDEXCLACCESS, "Accès exclusif nécessaire à la table",
        "Fermez les autres fenêtres et programmes qui l'utilisent puis recommencez."},
    {kdb::DBERR_NOTSUPPORTED, "Opération non prise en charge pour la table", nullptr},
};

}  // namespace

QString EngineErrorText(int code, const QString& file)
{
    QString text;
    const char* advice = nullptr;
    for (const EngineText& t : kEngineTexts) {
        if (t.code == code) {
            text = QString::fromUtf8(t.lead);
            advice = t.advice;
            break;
        }
    }
    if (text.isEmpty())
        text = QStringLiteral("Erreur de la base de données (code %1)").arg(code);
    if (!file.isEmpty())
        text += QStringLiteral(" : « %1 »").arg(file);
    text += QLatin1Char('.');
    // A table of the data directory: neither read nor written until the
    // table check of the maintenance commands mends it.
    if (code == kdb::DBERR_HEADERCORRUPT && file.endsWith(QLatin1String(".DBF"), Qt::CaseInsensitive))
        advice = "Elle n'est ni lue ni modifiée : lancez « Outils / Contrôle de la base de données », qui la répare en "
                 "gardant une copie de ses fichiers, ou restaurez-la depuis une sauvegarde.";
    // The memo file of such a table (missing, or its header damaged): the
    // same.
    if (code == kdb::DBERR_MEMOCORRUPT && file.endsWith(QLatin1String(".DBT"), Qt::CaseInsensitive)) {
        text = QStringLiteral("Fichier des textes longs (mémos) d'une table endommagé ou absent : « %1 ».").arg(file);
        advice = "Rien n'y est écrit : lancez « Outils / Contrôle de la base de données », qui le répare en gardant une "
                 "copie des fichiers, ou restaurez-le depuis une sauvegarde.";
    }
    if (advice)
        text += QLatin1Char(' ') + QString::fromUtf8(advice);
    return text;
}

QString ExceptionText(const std::exception& e)
{
    if (const auto* engine = dynamic_cast<const EDBEngineError*>(&e))
        return EngineErrorText(engine->code(), QString::fromStdString(engine->file()));
    if (kos::IsOwnException(e))
        return QString::fromUtf8(e.what());
    // The standard library's own words are English: what went wrong, in French.
    return QStringLiteral("L'opération n'a pas pu aboutir : %1.").arg(QString::fromStdString(kos::ExceptionReason(e)));
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

}  // namespace kui
