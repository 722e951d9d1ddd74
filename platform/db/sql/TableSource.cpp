#include "sql/TableSource.h"

#ifdef KORVALE_SQL_HAVE_ENGINE
#include "engine/Engine.h"
#endif

namespace kdb::sql {

namespace {

class CursorIterator : public TagIterator {
public:
    CursorIterator(std::unique_ptr<TagCursor> c, Table& t, int field)
        : cur_(std::move(c)), table_(t), field_(field) {}
    bool first() override { rec_ = cur_->first(); return rec_ != 0; }
    bool last() override { rec_ = cur_->last(); return rec_ != 0; }
    bool next() override { rec_ = cur_->next(); return rec_ != 0; }
    bool prior() override { rec_ = cur_->prior(); return rec_ != 0; }
    bool seek(const QVariant& key) override {
        cur_->seek(key, false);
        rec_ = cur_->current();
        return rec_ != 0;
    }
    bool seekExact(const QVariant& key) override {
        uint32_t found = cur_->seek(key, false);
        rec_ = cur_->current();
        return found != 0;
    }
    uint32_t recNo() const override { return rec_; }
    QVariant key() const override { return field_ >= 0 && rec_ ? table_.value(rec_, field_) : QVariant(); }

private:
    std::unique_ptr<TagCursor> cur_;
    Table& table_;
    int field_;
    uint32_t rec_ = 0;
};

}  // namespace

TableSource::TableSource(std::shared_ptr<Table> table) : table_(std::move(table)) {
    for (const FieldInfo& f : table_->fields()) {
        ColumnInfo c;
        c.name = f.name;
        c.type = f.type;
        c.subType = f.subType;
        c.width = f.width;
        c.decimals = f.decimals;
        columns_.push_back(c);
    }
    for (const kdb::TagInfo& t : table_->tags()) {
        TagInfo ti;
        ti.name = t.name;
        ti.unique = t.unique;
        ti.descending = t.descending;
        ti.field = table_->fieldIndex(t.keyExpr);  // -1 for an expression of several fields
        tags_.push_back(ti);
    }
}

std::unique_ptr<TagIterator> TableSource::openTag(int tag) {
    const TagInfo& t = tags_.at(static_cast<size_t>(tag));
    return std::make_unique<CursorIterator>(table_->openTag(t.name), *table_, t.field);
}

void TableSource::update(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values) {
    std::vector<QVariant> rec = table_->record(recNo);
    for (const auto& [f, v] : values) rec.at(static_cast<size_t>(f)) = v;
    table_->update(recNo, rec);
}

std::shared_ptr<Source> openEngineTable(const std::string& directory, const std::string& tableName,
                                        const OpenMode& mode) {
#ifdef KORVALE_SQL_HAVE_ENGINE
    engine::OpenOptions o;
    o.exclusive = mode.exclusive;
    o.readOnly = mode.readOnly;
    // the engine finds the file in any case, ".DBF" then ".DB" without extension
    std::shared_ptr<Table> t = engine::openTable(directory, tableName, o);
    return std::make_shared<TableSource>(std::move(t));
#else
    (void)directory;
    (void)mode;
    throw EDBEngineError(DBERR_NOSUCHTABLE, "Table does not exist: " + tableName);
#endif
}

}  // namespace kdb::sql
