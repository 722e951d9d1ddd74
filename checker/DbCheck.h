#pragma once
// TDbCheck: keeps the tables of a data directory in line with the schema
// Descriptor. For every table block it probes the table, creates it when it
// is missing, repairs the auto-increment counter of a Paradox table, compares
// the existing fields and indexes with the declared ones and restructures the
// table (keeping its data, packing it) when they differ. Before creating or
// changing anything it asks its owner through OnFoundDiff; every step is
// reported through the events, which fire on the calling thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/db/core/DbError.h"
#include "platform/db/core/EngineTypes.h"
#include "platform/db/engine/Damage.h"

namespace kdb {
class Table;
}

// What the checker did, or is about to do, to a table.
enum TChkMessage { CHK_NONE = 0, CHK_TABLECREATE = 1, CHK_TABLEMODIFY = 2, CHK_AUTOINCREPAIR = 3 };

using TCheckEvent = std::function<void(QObject* sender, TChkMessage chkMessage, const QString& tblName)>;
using TFindDiffEvent =
    std::function<void(QObject* sender, TChkMessage chkMessage, const QString& tblName, bool& correct)>;
// The error is only valid during the call.
using TErrorEvent = std::function<void(QObject* sender, const EDBEngineError& message)>;
using TAddFieldEvent = std::function<void(QObject* sender, const QString& tblName, const QString& fldName)>;
using TTableEvent = std::function<void(QObject* sender, const QString& tblName)>;
using TNotifyEvent = std::function<void(QObject* sender)>;
// A damaged table was found, a copy of its files kept and the table repaired
// (or a restructure cut values): what was wrong and what was kept.
using TDamageEvent = std::function<void(QObject* sender, const kdb::engine::DamageReport& report)>;

class TDbCheck : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ReadPath MEMBER ReadPath)
    Q_PROPERTY(QString CorrectPath MEMBER CorrectPath)
    Q_PROPERTY(QStringList Descriptor MEMBER Descriptor)
    Q_PROPERTY(QStringList ReadFiles MEMBER ReadFiles)

public:
    explicit TDbCheck(QObject* owner = nullptr);
    ~TDbCheck() override;

    // ---- published properties ----------------------------------------------
    QString ReadPath;  // kept, not used by the check
    QString CorrectPath;  // directory of the tables (or an engine alias)
    QStringList Descriptor;  // the schema text, one line per entry
    // Display names: "file name=display name" or "file name|display name".
    QStringList ReadFiles;

    // ---- events (an unassigned event is skipped) ---------------------------
    TCheckEvent OnAfterCheck;  // after each table
    TCheckEvent OnBeforeCheck;  // before an existing table is examined / repaired
    TNotifyEvent OnComplete;  // after the last table
    TErrorEvent OnError;  // an engine failure of a creation, restructuring or repair
    TFindDiffEvent OnFoundDiff;  // a table must be created or restructured
    TAddFieldEvent OnAddField;  // a declared field is missing
    TAddFieldEvent OnModifyField;  // a declared field differs or stands elsewhere
    TTableEvent OnCreateTable;  // a table was created
    TTableEvent OnModifyTable;  // a table was restructured
    TDamageEvent OnDamage;  // a damaged table was kept, repaired and is reported

    // Runs the whole check. The Descriptor is read in full before any table
    // is touched: a Descriptor outside the grammar raises
    // dbcheck::EDescriptorError and changes nothing. Failures of the engine
    // outside a creation, restructuring or repair raise EDBEngineError.
    void CheckDatabase();

    // ---- inner operations ----------------------------------------------------
    // Line position in the Descriptor (0-based), as the parse leaves it.
    int LinePosition() const { return linePos_; }
    void SetLinePosition(int pos) { linePos_ = pos; }
    // Keyword of the Descriptor line at the line position.
    QString ReadKeyword() const;
    // Parses the table block at the line position (see dbcheck::ParseTableDescriptor),
    // leaving the position on its "end" line.
    void ParseTableDescriptor(uint16_t& fieldCount, uint16_t& indexCount, std::vector<kdb::FieldDesc>& fields,
        std::vector<kdb::IndexDesc>& indexes);

    // Marks each wanted field unchanged, modified or added (field number and
    // restructure operation), firing OnModifyField / OnAddField with the
    // current table's file name; true when every wanted field is unchanged.
    bool CompareFields(std::vector<kdb::FieldDesc>& wanted, const std::vector<kdb::FieldDesc>& existing);
    // Marks each wanted index unchanged, modified or added and appends the
    // existing indexes that are not declared, to be dropped; true when
    // nothing is to change.
    bool CompareIndexes(std::vector<kdb::IndexDesc>& wanted, const std::vector<kdb::IndexDesc>& existing);
    // Creates the current table in the check directory; answers the engine code.
    int CreateTable(const std::vector<kdb::FieldDesc>& fields, const std::vector<kdb::IndexDesc>& indexes);
    // Restructures the current table with the operations of the records;
    // answers the engine code.
    int RestructureTable(const std::vector<kdb::FieldDesc>& fields, const std::vector<kdb::IndexDesc>& indexes);

    // The display name of a table file name, from ReadFiles.
    QString GetDisplayTableName(const QString& fileName) const;

    // The table the inner operations work on: its file name as the schema
    // writes it, and the directory of the check.
    void SetCurrentTable(const QString& directory, const QString& fileName);

private:
    void checkTable(const QString& fileName, const QString& driver, std::vector<kdb::FieldDesc>& fields,
        std::vector<kdb::IndexDesc>& indexes, TChkMessage& result);
    void repairAutoIncrement(const QString& filePath, const QString& displayName, int64_t lastValue);
    void openWorkingTable();
    void closeWorkingTable();
    bool foundDiff(TChkMessage message, const QString& displayName);
    void reportError(int code);
    void reportDamage(const kdb::engine::DamageReport& report);

    int linePos_ = 0;
    bool running_ = false;
    QString directory_;  // the check directory
    QString tableFileName_;  // current table, as the schema writes it
    QString tableNameUpper_;  // the same, upper-cased
    std::unique_ptr<kdb::Table> table_;  // the working table, open only while examined
    std::optional<EDBEngineError> lastError_;  // raised by the last creation or restructuring
};

namespace dbcheck {

// The first existing field named like the wanted one (ignoring case), -1 when none.
int FindFieldByName(const std::vector<kdb::FieldDesc>& existing, const kdb::FieldDesc& wanted);
// Same name (ignoring case), type and sub-type; the sizes count only for the
// types whose size the engine reports (character and numeric fields).
bool SameFieldDesc(const kdb::FieldDesc& a, const kdb::FieldDesc& b);
// The file-name part of an index name (after the last "\" or "/").
QString IndexFileName(const std::string& indexName);
// Same index: file-name part of the name and tag name (ignoring case), key
// fields, flags by truth, key field count, format, key expression and
// condition (ignoring case).
bool SameIndexDesc(const kdb::IndexDesc& a, const kdb::IndexDesc& b);
// The engine error for a code about a file, with its message.
EDBEngineError EngineError(int code, const std::string& file);

}  // namespace dbcheck
