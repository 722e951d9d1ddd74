#pragma once
// Datasets: a cursor over the rows of a table or of a query result, with the
// edit states and events the screens rely on, and a change notification for
// the data-aware widgets (Qt signals).
//
// Conventions:
// - RecNo is the 1-based position of the current row in the dataset's order
//   (after filtering); physicalRecNo() gives a table's record number.
// - Moving the cursor while editing or inserting first posts a modified
//   record (or cancels an untouched one).
// - BeforePost may raise the silent abort (EAbort): the post is cancelled,
//   the edits and the Edit/Insert state are kept, and the abort goes on to
//   the caller, which ends its action silently.
// - Edit takes the record's multi-user lock (for a table) and reads the
//   record again under it, so the edits start from its current values; the
//   lock is given back when the record is posted, cancelled or the dataset
//   closes. A record another program holds locked raises EDBEngineError
//   DBERR_LOCKED and the dataset stays in Browse; a record deleted since
//   it was read (by another program, or through another dataset) raises
//   DBERR_RECDELETED and the dataset stays in Browse. Post raises
//   DBERR_RECDELETED too, before BeforePost and without writing, when the
//   record edited is found deleted: the edits and the Edit state are kept.
// - Rows are read on demand: a table's rows come from its tag (or physical
//   order), a query's as its statement reads them (sql::Query), as the
//   cursor or a view needs them; RecordCount reads them all.
// - The rows read form a window. A table dataset moved to a record
//   (gotoRecord, refresh) finds it through its tag, O(log n), and reads the
//   rows around it as the cursor or a view goes on in either direction: the
//   window then starts at that record and grows at its front when the
//   cursor goes back before it (the rows' numbers move up by the rows read;
//   rowsReset tells the views).
#include <QDate>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/sql/Sql.h"

namespace kdb {

enum class DatasetState { Inactive, Browse, Edit, Insert };

class Dataset;

struct LocateOptions {
    bool caseInsensitive = false;
    bool partialKey = false;
};

class Field {
public:
    Field(Dataset* owner, int index, FieldInfo info);

    const std::string& fieldName() const { return info_.name; }
    int index() const { return index_; }
    uint16_t dataType() const { return info_.type; }
    bool isMemo() const { return info_.type == fldBLOB; }
    bool isLookup() const { return lookup_; }
    int size() const { return info_.width; }
    int decimals() const { return info_.decimals; }
    Dataset& dataset() const { return *owner_; }

    QVariant value() const;
    bool isNull() const;
    // Text of the value: a date as dd/mm/yyyy, a number in decimal, empty for null.
    QString asString() const;
    // A text field holding a number is read as that number; EDatabaseError otherwise.
    int asInteger() const;
    double asFloat() const;
    // A text field holding dd/mm/yyyy is read as that date; EDatabaseError otherwise.
    QDate asDate() const;

    // Setters need the Edit or Insert state. A text longer than a character
    // column is cut to its width.
    void setValue(const QVariant& v);
    void setAsString(const QString& s);
    void setAsInteger(int v);
    void setAsDate(const QDate& d);
    void clear() { setValue(QVariant()); }

    // Presentation, read by the grids and the data-aware controls.
    QString displayLabel;
    int displayWidth = 0;  // characters; 0: from the column width
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool readOnly = false;
    bool visible = true;

private:
    friend class Dataset;
    Dataset* owner_;
    int index_;
    FieldInfo info_;
    bool lookup_ = false;
    // lookup definition
    std::string keyField_, lookupKeyField_, lookupResultField_;
    Dataset* lookupDataset_ = nullptr;
};

class Dataset : public QObject {
    Q_OBJECT
public:
    explicit Dataset(QObject* parent = nullptr);
    ~Dataset() override;

    // ---- events ------------------------------------------------------------
    std::function<void(Dataset&)> beforePost, afterPost, afterCancel, onNewRecord, afterScroll, afterOpen, beforeDelete,
        afterDelete;
    // Called for every row while Filtered is on; answer false to hide it.
    std::function<bool(Dataset&)> onFilterRecord;

    // ---- opening -------------------------------------------------------------
    // The database whose tables the dataset reads (it must outlive the
    // dataset's openings). Without one, the program's database of the
    // directory set by setDatabaseName (Database::of).
    void setDatabase(Database& db) { database_ = &db; }
    void setDatabaseName(const std::string& directory) { directory_ = directory; }
    const std::string& databaseName() const { return database_ ? database_->directory() : directory_; }
    void open();
    void close();
    bool active() const { return state_ != DatasetState::Inactive; }
    void setActive(bool a) { a ? open() : close(); }
    DatasetState state() const { return state_; }
    // Reads the rows again (a table re-reads its header first, so records
    // another program appended are seen), keeping the current row when it
    // still exists, else the one that follows it. A table dataset finds the
    // row through its tag and reads again only the rows around it.
    void refresh();

    // ---- navigation ----------------------------------------------------------
    void first();
    void last();
    void next();
    void prior();
    int moveBy(int distance);  // answers the rows actually moved
    bool eof() const;
    bool bof() const;
    bool isEmpty();
    // The cursor is on the first / last row (false without a row).
    bool atFirstRow();
    bool atLastRow();
    int recordCount();  // reads every row
    // Without a filter, a table's physical record count less the records
    // deleted through this dataset (no row read: records another program
    // deleted are still counted); else recordCount().
    int approximateRecordCount();
    // 1-based position, 0 when there is no current row. With a window that
    // does not start at the first row, the rows before it are read first.
    int recNo() const;
    void setRecNo(int recNo);
    // A table's record number of the current row (the position for a query).
    virtual uint32_t physicalRecNo() const;

    bool locate(const std::string& fieldName, const QVariant& value, LocateOptions options = {});
    // Moves to the row of this physicalRecNo(): among the rows read, else
    // through a table's tag (the window then starts at that row); false,
    // not moving, when no row holds it.
    bool gotoRecord(uint32_t physicalRecNo);
    // Finds a row without moving the cursor: the matching row's value of
    // resultField, or a null QVariant.
    QVariant lookup(const std::string& keyField, const QVariant& key, const std::string& resultField);

    // ---- editing -------------------------------------------------------------
    void edit();
    void insert();
    void append();
    void post();
    void cancel();
    void remove();  // deletes the current row
    bool modified() const { return modified_; }
    // Whether the current record was deleted since it was read (by another
    // program, or through another dataset); false without a current row.
    bool currentRowGone();
    void checkBrowseMode();
    virtual bool canModify() const { return false; }

    // ---- fields --------------------------------------------------------------
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    Field& field(int i) { return *fields_.at(static_cast<size_t>(i)); }
    Field* findField(const std::string& name);
    // Raises EDatabaseError "Field 'X' not found" when absent.
    Field& fieldByName(const std::string& name);
    // A lookup field, kept across openings: its value is resultField of the
    // row of `source` whose lookupKeyField equals this dataset's keyField.
    void addLookupField(const std::string& name, const std::string& keyField, Dataset* source,
        const std::string& lookupKeyField, const std::string& resultField, int width = 0);
    // Presentation set before opening, applied to the field at every opening.
    void setFieldDisplay(const std::string& name, const QString& label, Qt::Alignment alignment = {}, int width = 0,
        bool visible = true);

    // ---- filtering -----------------------------------------------------------
    // "FIELD='value'" (a date field compares with dd/mm/yyyy text); empty for none.
    void setFilter(const QString& text);
    const QString& filter() const { return filterText_; }
    void setFiltered(bool on);
    bool filtered() const { return filtered_; }

    // ---- notifications -------------------------------------------------------
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disabled_ > 0; }

    // ---- row access for views (0-based rows, no cursor move) ----------------
    int loadedRowCount() const;  // rows read so far, plus the row being inserted
    bool allRowsLoaded() const { return exhausted_; }
    void loadMoreRows(int count);
    // Rows before the window: whether all are read, and reading up to count
    // more of them (the rows' numbers then move up: rowsReset).
    bool allRowsBeforeLoaded() const { return headLoaded_; }
    void loadRowsBefore(int count);
    QVariant valueAt(int row, int field);
    int currentRow() const;  // -1 when there is none
    // Moves the cursor to the row (posting a modified record first).
    void moveToRow(int row);
    // The row shown for the record being inserted (-1 outside Insert).
    int insertRow() const { return state_ == DatasetState::Insert ? insertPos_ : -1; }

    // Value of the current record (the edit buffer while editing).
    QVariant currentValue(int field) const;
    void setCurrentValue(int field, const QVariant& v);

signals:
    void stateChanged();
    void currentChanged();  // cursor moved or the current record's values changed
    void rowsReset();  // rows re-read: opened, closed, filtered, posted, deleted
    void fieldChanged(int field);
    // Sent first by post() and checkBrowseMode(), in every state: a view
    // holding typed text it has not written yet (a grid's open cell editor)
    // writes it now, so that the record posted is the one on the screen.
    void updateRecord();

protected:
    // ---- what a kind of dataset provides ------------------------------------
    virtual void doOpen() = 0;  // raises on failure
    virtual void doClose() = 0;
    virtual std::vector<FieldInfo> baseColumns() const = 0;
    // Appends up to `max` more base rows (handles) in order; false when none are left.
    virtual bool fetchBase(std::vector<uint32_t>& out, int max) = 0;
    // Starts the reading of the base rows again from the first.
    virtual void rewindBase() = 0;
    // Positions the reading on this record: the next fetchBase starts with
    // it and fetchBaseBackward reads the rows before it, nearest first.
    // False when the dataset cannot (the rows are then read from the first).
    virtual bool seekBase(uint32_t handle);
    // Appends up to `max` base rows before those read, nearest first; false
    // when none are left.
    virtual bool fetchBaseBackward(std::vector<uint32_t>& out, int max);
    // The rows without a filter, counted without reading them; -1 unknown.
    virtual int quickCount() { return -1; }
    // Called by refresh() before the rows are read again.
    virtual void rereadBase() { }
    virtual QVariant baseValue(uint32_t handle, int field) = 0;
    // Writes the record; handle 0 for a new one. Answers the record's handle.
    virtual uint32_t writeRecord(uint32_t handle, const std::vector<QVariant>& values);
    virtual void deleteRecord(uint32_t handle);
    // Whether an edited record keeps its place in the order after its write
    // (then the rows read so far stay as they are).
    virtual bool keepsPlace(const std::vector<QVariant>& before, const std::vector<QVariant>& after) const;
    // The table's or query's name for messages.
    virtual std::string displayName() const = 0;
    // The multi-user lock of a record about to be edited: false when another
    // program holds it. The default takes none.
    virtual bool lockRow(uint32_t handle);
    virtual void unlockRow(uint32_t handle);
    // Whether the record is deleted now (read from the file, not from what
    // was read before). The default: never.
    virtual bool rowGone(uint32_t handle);
    // The rows handed on meet the filter FIELD='value' in force already
    // (the base read them through it): they are not tested again.
    virtual bool baseRowsMeetFilter() const { return false; }
    // The table whose records the base rows are (a row's handle is its
    // record number, a base field the table's field of that number), so
    // that a text column is compared as stored; nullptr when there is none.
    virtual Table* baseTable() { return nullptr; }

    uint32_t currentHandle() const;
    // The filter FIELD='value' in force (field -1 when none or not
    // filtered); a date field's value is a QDate, a text field's its text.
    int filterFieldInForce() const { return filtered_ ? filterField_ : -1; }
    const QVariant& filterValueInForce() const { return filterValue_; }
    static QVariant toColumnValue(const QVariant& v, const FieldInfo& c);
    Database& database() { return database_ ? *database_ : Database::of(directory_); }

private:
    friend class Field;
    bool accepts(uint32_t handle);
    bool loadUpTo(int row);  // makes row available; false when there is no such row
    void loadAll();
    // Reads up to count rows before the window (all when count < 0) and
    // answers how many were added; notifies the views when some were.
    int loadBefore(int count, bool notify = true);
    // A window starting at this record through seekBase: 1 when it is its
    // first row; 0 leaves the window at the row that follows; -1 when the
    // dataset cannot seek (the rows are left as they are).
    int windowOn(uint32_t handle);
    void resetRows();
    void scrolled();
    void notifyReset();
    void notifyCurrent();
    void setState(DatasetState s);
    QVariant fieldValue(int field, uint32_t handle, const std::vector<QVariant>* buffer);
    void buildFields();
    void requireBrowse(const char* what);
    void releaseRowLock();
    void repositionOn(uint32_t handle, int fallbackRow);
    void newRecord();
    bool matches(int field, uint32_t handle, const QVariant& value, LocateOptions options);
    // The first row whose field holds the value as locate() compares it;
    // -1 when there is none.
    int findRow(int field, const QVariant& value, LocateOptions options);

    DatasetState state_ = DatasetState::Inactive;
    Database* database_ = nullptr;
    std::string directory_;
    std::vector<std::unique_ptr<Field>> fields_;
    int baseFieldCount_ = 0;
    struct LookupDef {
        std::string name, keyField, lookupKeyField, resultField;
        Dataset* source;
        int width;
    };
    std::vector<LookupDef> lookups_;
    struct DisplayDef {
        std::string name;
        QString label;
        Qt::Alignment alignment;
        int width;
        bool visible;
    };
    std::vector<DisplayDef> displays_;

    std::vector<uint32_t> rows_;  // handles of the visible rows read so far
    bool exhausted_ = false;
    bool headLoaded_ = true;  // the window starts at the first row
    int cur_ = -1;  // current row, -1 when none
    bool bof_ = true, eof_ = true;

    std::vector<QVariant> buffer_;  // edit buffer (base fields)
    std::vector<QVariant> original_;  // the record as it was when the edit began
    bool modified_ = false;
    uint32_t lockedRow_ = 0;  // the record whose lock the edit holds
    int insertPos_ = -1;
    int beforeInsert_ = -1;

    QString filterText_;
    bool filtered_ = false;
    int filterField_ = -1;
    QVariant filterValue_;
    bool filterParsed_ = false;
    void parseFilter();

    int disabled_ = 0;
    bool pendingReset_ = false;
};

// A table of a directory, read through its production index when an order
// is chosen, else in physical order.
class TableDataset : public Dataset {
    Q_OBJECT
public:
    explicit TableDataset(QObject* parent = nullptr);

    void setTableName(const std::string& name) { tableName_ = name; }
    const std::string& tableName() const { return tableName_; }
    void setExclusive(bool on) { exclusive_ = on; }
    void setReadOnly(bool on) { readOnly_ = on; }
    // Orders by the tag whose key is this one field (empty: physical order).
    void setIndexFieldNames(const std::string& fieldName);
    // Orders by a tag given by name (empty: physical order).
    void setIndexName(const std::string& tagName);
    // Flush the table to disk right after each post and delete.
    void setFlushOnPost(bool on) { flushOnPost_ = on; }

    bool canModify() const override { return active() && !readOnly_; }
    uint32_t physicalRecNo() const override { return currentHandle(); }
    Table* table() { return table_.get(); }
    void flushTable();

protected:
    void doOpen() override;
    void doClose() override;
    std::vector<FieldInfo> baseColumns() const override;
    bool fetchBase(std::vector<uint32_t>& out, int max) override;
    // Reads a filter FIELD='value' through the tag on FIELD when the order
    // allows it (physical order or that tag's).
    void rewindBase() override;
    QVariant baseValue(uint32_t handle, int field) override;
    uint32_t writeRecord(uint32_t handle, const std::vector<QVariant>& values) override;
    void deleteRecord(uint32_t handle) override;
    bool keepsPlace(const std::vector<QVariant>& before, const std::vector<QVariant>& after) const override;
    std::string displayName() const override { return tableName_; }
    bool lockRow(uint32_t handle) override;
    void unlockRow(uint32_t handle) override;
    bool rowGone(uint32_t handle) override;
    bool seekBase(uint32_t handle) override;
    bool fetchBaseBackward(std::vector<uint32_t>& out, int max) override;
    int quickCount() override;
    void rereadBase() override;
    Table* baseTable() override { return table_.get(); }

private:
    // The tag cursor on this record's entry, found by its key: 1 on it; 0
    // on the entry that follows where it would be (an index that dropped
    // it); -1 when the key cannot be built.
    int positionOn(TagCursor& cursor, uint32_t handle);

    std::string tableName_, indexFields_, indexName_;
    std::string tagName_;  // the order's tag
    bool exclusive_ = false, readOnly_ = false, flushOnPost_ = false;
    std::shared_ptr<Table> table_;
    std::unique_ptr<TagCursor> tag_;
    int tagField_ = -1;  // the order's key field, -1 for a key of several fields
    bool tagStarted_ = false;
    bool tagPositioned_ = false;  // tag_ is on the next row to hand
    uint32_t nextPhysical_ = 1;
    // reading backward from a record found by seekBase
    std::unique_ptr<TagCursor> back_;
    uint32_t backAnchor_ = 0;  // the record the backward reading starts before
    bool backPositioned_ = false;
    uint32_t prevPhysical_ = 0;  // physical order: the next record backward
    uint32_t deletedHere_ = 0;  // records deleted through this dataset since it opened
    bool restricted_ = false;  // the rows come from restrictedRecs_
    std::vector<uint32_t> restrictedRecs_;
    size_t nextRestricted_ = 0;
};

// The rows of a SELECT; INSERT, UPDATE and DELETE run through execSql().
class QueryDataset : public Dataset {
    Q_OBJECT
public:
    explicit QueryDataset(QObject* parent = nullptr);

    // Replaces the statement (lines are joined with CR LF), closing an open dataset.
    void setSql(const QString& text);
    void setSql(const QStringList& lines);
    const QString& sql() const { return sql_; }

    sql::Params& params() { return params_; }
    void setParamText(const std::string& name, const QString& v) { params_.setText(name, v); }
    void setParamInteger(const std::string& name, qint64 v) { params_.setInteger(name, v); }
    void setParamDate(const std::string& name, const QDate& v) { params_.setDate(name, v); }

    // Runs a statement that returns no rows; answers the rows it changed.
    int execSql();
    // How the last statement read its tables.
    const std::string& plan() const { return plan_; }

protected:
    void doOpen() override;
    void doClose() override;
    std::vector<FieldInfo> baseColumns() const override;
    bool fetchBase(std::vector<uint32_t>& out, int max) override;
    // Reopens the statement when the filter it reads through changed.
    void rewindBase() override;
    QVariant baseValue(uint32_t handle, int field) override;
    std::string displayName() const override { return "query"; }
    bool baseRowsMeetFilter() const override;

private:
    // The statement with the dataset's filter as a condition of its own
    // (sql::ColumnFilter), so a tag on the column reads only those rows.
    void openStatement();
    QString statementFilter() const { return filtered() ? filter().trimmed() : QString(); }
    QString openFilter_;  // the filter the open statement reads through
    QString sql_;
    sql::Params params_;
    std::unique_ptr<sql::Query> query_;  // the open statement, its rows read on demand
    size_t handed_ = 0;  // rows given to the dataset since the last rewind
    std::string plan_;
};

}  // namespace kdb
