#include "OtherWorkstation.h"

#include "RecordsCommon.h"
#include "app/global/global.h"
#include "platform/db/database/Database.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Messages.h"

#include <QDialog>

namespace records {

QString DeletedElsewhereText(const QString& what, bool feminine)
{
    return what +
        (feminine ? QStringLiteral(" a été supprimée sur un autre poste.")
                  : QStringLiteral(" a été supprimé sur un autre poste."));
}

QString ChangedElsewhereText(const QString& what, bool feminine)
{
    return what +
        (feminine ? QStringLiteral(" a été modifiée sur un autre poste.")
                  : QStringLiteral(" a été modifié sur un autre poste."));
}

QString NotSavedNote()
{
    return QStringLiteral("\nLes modifications n'ont pas été enregistrées ; elles restent affichées.");
}

QString ListUpdatedNote()
{
    return QStringLiteral("\nLa liste a été mise à jour.");
}

QString NothingDoneNote()
{
    return QStringLiteral("\nVérifiez-le dans la liste, puis recommencez.");
}

void WarnElsewhere(const QString& text, QWidget* parent)
{
    kui::MsgWarning(text, parent);
}

bool IsRecordDeleted(const std::exception& e)
{
    const auto* engine = dynamic_cast<const EDBEngineError*>(&e);
    return engine && engine->code() == kdb::DBERR_RECDELETED;
}

void GuardedAgainstDeleted(const std::function<void()>& action, const std::function<void()>& deleted)
{
    Guarded([&] {
        try {
            action();
        } catch (const std::exception& e) {
            if (!IsRecordDeleted(e))
                throw;
            deleted();
        }
    });
}

bool ReloadRow(const std::function<bool()>& load, const std::function<QString()>& what, QWidget* parent)
{
    bool found = true;
    Guarded([&] { found = load(); });
    if (!found)
        WarnElsewhere(DeletedElsewhereText(what(), false), parent);
    return found;
}

void CloseOnDeleted(QDialog* screen, const QString& what)
{
    WarnElsewhere(DeletedElsewhereText(what, false), screen);
    QMetaObject::invokeMethod(screen, &QDialog::reject, Qt::QueuedConnection);
}

RowState CheckListRow(kdb::Dataset& list, const QString& table, const char* keyField)
{
    const QVariant key = list.fieldByName(keyField).value();
    if (key.isNull())
        return RowState::Gone;
    kdb::QueryDataset now;
    now.setDatabaseName(DataPath.toStdString());
    now.setSql(QStringLiteral("SELECT * FROM %1 WHERE %2=:KEY").arg(table, QString::fromLatin1(keyField)));
    now.params().set("KEY", key);
    now.open();
    if (now.isEmpty())
        return RowState::Gone;
    for (int i = 0; i < list.fieldCount(); ++i) {
        kdb::Field& shown = list.field(i);
        if (shown.isLookup())
            continue;
        kdb::Field* stored = now.findField(shown.fieldName());
        if (stored && stored->asString().trimmed() != shown.asString().trimmed())
            return RowState::Changed;
    }
    return RowState::Same;
}

bool ListRowUpToDate(kdb::Dataset& list, const QString& table, const char* keyField,
    const std::function<QString()>& what, bool feminine, const std::function<void(RowState)>& refresh, QWidget* parent,
    bool changedGoesOn)
{
    RowState state = RowState::Same;
    QString named;
    bool read = false;
    Guarded([&] {
        named = what();
        state = CheckListRow(list, table, keyField);
        read = true;
    });
    if (!read)
        return false;  // the failure was shown
    if (state == RowState::Same)
        return true;
    const bool gone = state == RowState::Gone;
    Guarded([&] { refresh(state); });
    QString text = gone ? DeletedElsewhereText(named, feminine) : ChangedElsewhereText(named, feminine);
    text += ListUpdatedNote();
    if (!gone && !changedGoesOn)
        text += NothingDoneNote();
    WarnElsewhere(text, parent);
    return !gone && changedGoesOn;
}

bool StartRowWrite(kdb::TableDataset& table, const char* keyField, const QString& key, bool isNew)
{
    if (!table.active())
        table.open();
    if (!table.locate(keyField, key)) {
        if (!isNew)
            return false;
        table.append();
        return true;
    }
    try {
        table.edit();
    } catch (const std::exception& e) {
        if (!IsRecordDeleted(e))
            throw;
        return false;
    }
    return true;
}

QString FullName(const QString& nom, const QString& prenom)
{
    return (nom.trimmed() + QLatin1Char(' ') + prenom.trimmed()).trimmed();
}

QString PatientName(const QString& code)
{
    if (code.trimmed().isEmpty())
        return {};
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql(QStringLiteral("SELECT NOM, PRENOM FROM PATIENT WHERE CODE=:CODE"));
    q.setParamText("CODE", code.trimmed());
    q.open();
    if (q.isEmpty())
        return code.trimmed();
    return FullName(q.fieldByName("NOM").asString(), q.fieldByName("PRENOM").asString());
}

QString PatientWhat(const QString& code, const QString& nom, const QString& prenom, bool feminine)
{
    const QString name = FullName(nom, prenom);
    return (feminine ? QStringLiteral("La patiente ") : QStringLiteral("Le patient ")) +
        (name.isEmpty() ? QString() : name + QLatin1Char(' ')) + QStringLiteral("(code ") + code.trimmed() +
        QLatin1Char(')');
}

PatientHold::PatientHold(const QString& code) : code_(code.trimmed())
{
    if (code_.isEmpty())
        return;
    table_ = kdb::Database::of(DataPath.toStdString()).openTable("PATIENT");
    kdb::Table& t = *table_;
    // Held shared: others read on, their changes wait.
    t.beginIndexRead();
    try {
        const int codeField = t.fieldIndex("CODE");
        const auto deleted = [&t](uint32_t rec) {
            const std::string stored = t.storedRecord(rec);
            return stored.empty() ? t.isDeleted(rec) : stored[0] == '*';
        };
        // True when the record is the patient's: a live one ends the search,
        // a deleted one lends its name to the message.
        const auto look = [&](uint32_t rec) {
            if (t.value(rec, codeField).toString().trimmed() != code_)
                return false;
            present_ = !deleted(rec);
            if (present_ || nom_.isEmpty()) {
                nom_ = t.value(rec, t.fieldIndex("NOM")).toString();
                prenom_ = t.value(rec, t.fieldIndex("PRENOM")).toString();
                feminine_ = t.value(rec, t.fieldIndex("SEXE")).toString().trimmed() == QLatin1String("F");
            }
            return true;
        };
        present_ = false;
        if (const int tag = codeField < 0 ? -1 : t.tagOnField(codeField); tag >= 0) {
            auto cursor = t.openTag(t.tags()[static_cast<size_t>(tag)].name);
            for (uint32_t rec = cursor->seek(code_); rec && look(rec) && !present_; rec = cursor->next()) {
            }
        } else if (codeField >= 0) {
            for (uint32_t rec = 1; rec <= t.recordCount() && !present_; ++rec)
                look(rec);
        }
    } catch (...) {
        t.endIndexRead();
        throw;
    }
}

PatientHold::~PatientHold()
{
    if (table_)
        table_->endIndexRead();
}

QString PatientHold::GoneText() const
{
    return DeletedElsewhereText(PatientWhat(code_, nom_, prenom_, feminine_), feminine_) + NotSavedNote();
}

}  // namespace records
