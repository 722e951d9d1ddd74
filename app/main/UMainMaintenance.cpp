// The two maintenance commands of the "Outils" menu: "Réindexation" and
// "Contrôle de la base de données". Both run the table check first, then
// treat every table the schema names.
#include "UMain.h"

#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "app/records/UListRDV.h"
#include "checker/DbCheck.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/engine/Engine.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WaitCursor.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <exception>
#include <memory>
#include <stdexcept>

namespace {

// The file name of the table a schema line names: the trimmed text from
// its 14th character, at most 50 characters.
QString TableFileName(const QString& line)
{
    return line.mid(13, 50).trimmed();
}

QString Count(uint64_t n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n > 1 ? many : one));
}

// What the user reads of a damaged table: which table, what was wrong, what
// was kept and where the copy of its files is.
QString DamageText(const kdb::engine::DamageReport& d)
{
    const QString table = QString::fromStdString(d.table).section(QLatin1Char('/'), -1);
    const QString copy = d.copyDir.empty() ? QString()
                                           : QStringLiteral("\nUne copie des fichiers endommagés est gardée dans %1.")
                                                 .arg(QString::fromStdString(d.copyDir));
    QStringList wrong;
    if (!d.headerDamage.empty())
        wrong << QStringLiteral("l'en-tête ne se lisait pas : %1").arg(QString::fromStdString(d.headerDamage));
    if (d.headerUnrepairable)
        return QStringLiteral("La table %1 est endommagée et n'a pas pu être réparée :\n- %2.\nElle est laissée telle "
                              "quelle ; restaurez-la depuis une sauvegarde.%3")
            .arg(table, wrong.join(QStringLiteral(" ;\n- ")), copy);
    if (d.recordsTakenBack > 0)
        wrong << Count(d.recordsTakenBack,
            "enregistrement après la fin annoncée de la table (compte de l'en-tête en retard), repris",
            "enregistrements après la fin annoncée de la table (compte de l'en-tête en retard), repris");
    if (d.recordsAfterCount > 0)
        wrong << Count(d.recordsAfterCount,
            "enregistrement inachevé après la fin de la table (écriture interrompue), retiré",
            "enregistrements inachevés après la fin de la table (écriture interrompue), retirés");
    else if (d.bytesAfterRecords > 0)
        wrong << Count(d.bytesAfterRecords, "octet après les enregistrements, qui ne forme pas un enregistrement, retiré",
            "octets après les enregistrements, qui ne forment pas un enregistrement, retirés");
    if (d.shortFile())
        wrong << QStringLiteral("le fichier est tronqué : %1 annoncés, %2 complet%3%4")
                     .arg(Count(d.recordsAnnounced, "enregistrement", "enregistrements"))
                     .arg(d.recordsInFile)
                     .arg(d.recordsInFile > 1 ? "s" : "")
                     .arg(d.partialRecord ? QStringLiteral(" et un dernier incomplet, complété par des blancs")
                                          : QString());
    if (!d.memoHeaderDamage.empty())
        wrong << QStringLiteral("l'en-tête du fichier des mémos ne se lisait pas (%1) : %2")
                     .arg(QString::fromStdString(d.memoHeaderDamage),
                         d.memoFileLost ? QStringLiteral("aucun mémo n'a pu en être sauvé, il a été recréé vide")
                                        : QStringLiteral("il a été refait d'après les mémos que le fichier contient"));
    else if (d.memoFileLost)
        wrong << QStringLiteral("le fichier des mémos manquait ou était illisible : il a été recréé vide");
    if (d.badMemoNextFree)
        wrong << QStringLiteral("le premier bloc libre du fichier des mémos était impossible (%1) : il a été remis à la "
                                "fin du fichier")
                     .arg(d.memoNextFree);
    if (d.badMemoPointers > 0)
        wrong << Count(
            d.badMemoPointers, "renvoi vers un mémo invalide, vidé", "renvois vers des mémos invalides, vidés");
    if (d.unreadableValues > 0)
        wrong << Count(d.unreadableValues, "valeur illisible (date, nombre ou logique), vidée",
            "valeurs illisibles (dates, nombres ou logiques), vidées");
    if (d.staleIndex)
        wrong << (d.indexTagsLost ? QStringLiteral("l'index était illisible : il a été supprimé puis recréé")
                                  : QStringLiteral("l'index ne correspondait plus à la table : il a été reconstruit"));
    if (wrong.isEmpty())  // a restructure that cut values of a sound table
        return QStringLiteral("La modification de la structure de la table %1 a coupé ou vidé %2 ; %3.%4")
            .arg(table,
                Count(d.valuesCut, "valeur qui n'entrait pas dans sa nouvelle colonne",
                    "valeurs qui n'entraient pas dans leur nouvelle colonne"),
                Count(d.records, "enregistrement conservé", "enregistrements conservés"), copy);
    return QStringLiteral("La table %1 était endommagée :\n- %2.\nElle a été réparée : %3 et %4 conservés.%5")
        .arg(table, wrong.join(QStringLiteral(" ;\n- ")), Count(d.records, "enregistrement", "enregistrements"),
            Count(d.values, "valeur", "valeurs"), copy);
}

}  // namespace

void TfrmMain::mnReindexationClick()
{
    MaintainDatabase(true);
}

void TfrmMain::mnCheckDBClick()
{
    MaintainDatabase(false);
}

void TfrmMain::MaintainDatabase(bool reindex)
{
    auto wait = std::make_unique<kui::WaitCursor>();
    QString closing = QStringLiteral("Contrôle de la base de données terminé !");
    const QString incomplete = QStringLiteral("Contrôle de la base de données incomplet !");
    // A damaged table the check or the walk finds is kept in a copy,
    // repaired, and reported in a box of its own.
    auto reportDamage = [this](const kdb::engine::DamageReport& d) {
        if (d.damaged() && (d.error == 0 || d.headerUnrepairable))
            kui::MsgInformation(DamageText(d), this);
    };
    // The repairs made while the program ran (an update another workstation
    // left unfinished when it was stopped, say) since the last command.
    // A box holds the last few of them, so that it fits on the screen and
    // its button can be reached; all of them stay in the log of the lines
    // shown.
    const std::vector<std::string> repairs = kdb::takeDamageLog(DataPath.toStdString());
    if (!repairs.empty()) {
        constexpr size_t kShown = 6;
        QStringList lines;
        for (size_t i = repairs.size() > kShown ? repairs.size() - kShown : 0; i < repairs.size(); ++i)
            lines << QString::fromStdString(repairs[i]);
        QString text = QStringLiteral("Réparations faites automatiquement depuis le dernier contrôle :\n%1")
                           .arg(lines.join(QLatin1Char('\n')));
        if (repairs.size() > kShown)
            text = QStringLiteral("%1 réparations faites automatiquement depuis le dernier contrôle ; les %2 "
                                  "dernières :\n%3\nLe détail de toutes est dans le fichier : %4")
                       .arg(repairs.size())
                       .arg(kShown)
                       .arg(lines.join(QLatin1Char('\n')),
                           QDir::toNativeSeparators(
                               QFileInfo(QString::fromStdString(kdb::damageLogPath(DataPath.toStdString())))
                                   .dir()
                                   .filePath(QStringLiteral("repairs-shown.log"))));
        kui::MsgInformation(text, this);
    }
    DbCheckData->OnDamage = [reportDamage](QObject*, const kdb::engine::DamageReport& d) { reportDamage(d); };

    // The appointment list is released before anything touches the tables,
    // so that neither the check nor the exclusive openings below find its
    // tables in use; the tables kept open between statements are closed
    // too, the files being rewritten. The list comes back at the end.
    const AppointmentListView listView = ReleaseAppointmentList();
    QCoreApplication::processEvents();
    context_.PracticeDatabase().closeIdleTables();

    // A table the check could not create or restructure was not treated.
    bool checked = true;
    const TErrorEvent showError = DbCheckData->OnError;
    DbCheckData->OnError = [&checked, showError](QObject* sender, const EDBEngineError& error) {
        checked = false;
        if (showError)
            showError(sender, error);
    };
    try {
        DbCheckData->CorrectPath = DataPath;
        DbCheckData->CheckDatabase();
    } catch (const std::exception&) {
        checked = false;
    }
    DbCheckData->OnError = showError;
    if (!checked)
        closing = incomplete;
    QCoreApplication::processEvents();

    std::exception_ptr failure;
    int treated = 0;
    try {
        QCoreApplication::processEvents();
        context_.PracticeDatabase().closeIdleTables();
        const std::string directory = DataPath.toStdString();
        kdb::engine::OpenOptions exclusive;
        exclusive.exclusive = true;
        for (const QString& line : DbCheckData->Descriptor) {
            if (!line.contains(QLatin1String("object Table:")))
                continue;
            const QString name = TableFileName(line);
            if (!checked)  // the check did not look the table over
                reportDamage(kdb::engine::repairTable(directory, name.toStdString()));
            std::unique_ptr<kdb::Table> table = kdb::engine::openTable(directory, name.toStdString(), exclusive);
            if (reindex) {
                const std::string path = table->filePath();
                const int status = kdb::engine::regenerateIndexes(*table);
                table.reset();
                // a table whose indexes were not regenerated was not treated
                if (status != kdb::DBERR_NONE)
                    closing = incomplete;
                if (status == kdb::DBERR_INVALIDHNDL)
                    kui::MsgPlain(name + QStringLiteral(" Invalid Handle !"), this);
                else if (status == kdb::DBERR_NEEDEXCLACCESS)
                    kui::MsgPlain(name + QStringLiteral(" NEEDEXCLACCESS !"), this);
                else if (status != kdb::DBERR_NONE)
                    kui::MsgError(kui::EngineErrorText(status, QString::fromStdString(path)), this);
            } else {
                PackTable(table);
                table.reset();
            }
            QCoreApplication::processEvents();
            ++treated;
        }
        QCoreApplication::processEvents();
    } catch (...) {
        failure = std::current_exception();
    }
    wait.reset();
    ShowAppointmentList(context_, ClientArea(), listView);
    QCoreApplication::processEvents();
    if (failure)
        closing = incomplete;
    kui::MsgInformation(closing, this);
    if (failure)
        throw std::runtime_error(WalkFailureText(reindex, treated, failure).toStdString());
}

// The failure box of the walk: where it stopped, the tables left untreated
// and the cause.
QString TfrmMain::WalkFailureText(bool reindex, int treated, const std::exception_ptr& failure) const
{
    QStringList untreated;
    for (const QString& line : DbCheckData->Descriptor)
        if (line.contains(QLatin1String("object Table:")))
            untreated << TableFileName(line);
    untreated = untreated.mid(treated);
    QString cause;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        cause = kui::ExceptionText(e);
    } catch (...) {
        cause = QStringLiteral("Erreur inconnue");
    }
    return (reindex ? QStringLiteral("Réindexation interrompue à la table %1.\rTables non réindexées : %2.\r%3")
                    : QStringLiteral("Compactage interrompu à la table %1.\rTables non compactées : %2.\r%3"))
        .arg(untreated.value(0), untreated.join(QStringLiteral(", ")), cause);
}

void TfrmMain::PackTable(std::unique_ptr<kdb::Table>& table)
{
    if (!table)
        throw EDatabaseError("Table must be  opened to pack");
    if (!table->isExclusive())
        throw EDatabaseError("Table must be  opened exclusively to pack");
    const kdb::CursorProps props = kdb::engine::cursorProps(*table);
    if (QString::fromStdString(props.tableType).compare(QLatin1String("PARADOX"), Qt::CaseInsensitive) == 0) {
        kdb::TableDesc desc;
        desc.tableName = props.tableName;
        desc.tableType = "PARADOX";
        desc.pack = true;
        const std::string path = table->filePath();
        const std::string directory = path.substr(0, path.find_last_of('/') + 1);
        table.reset();
        const int code = kdb::engine::restructureTable(directory, desc);
        if (code != kdb::DBERR_NONE)
            throw EDBEngineError(code, "Le compactage de la table " + props.tableName + " a échoué.");
    } else if (QString::fromStdString(props.tableType).compare(QLatin1String("DBASE"), Qt::CaseInsensitive) == 0) {
        kdb::engine::packTable(*table, true);
    } else {
        throw EDatabaseError("Table must be  either of Paradox or dBASE type to pack");
    }
}
