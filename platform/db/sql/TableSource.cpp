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
    std::string_view rawKey() const override { return rec_ ? cur_->currentKey() : std::string_view(); }
    void scanForward(const std::function<bool(uint32_t, std::string_view)>& visit) override {
        if (!rec_) return;
        cur_->scanForward(visit);
        rec_ = cur_->current();
    }

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
    // The .DBF layout: character bytes padded, dates "yyyyMMdd", numbers
    // as ASCII text; character tags on one field hold the field's bytes.
    const bool dbf = table_->hasDbfLayout();
    for (const FieldInfo& f : table_->fields()) {
        char k = 0;
        if (dbf) {
            if (f.nativeType == 'C') k = 'C';
            else if (f.nativeType == 'D') k = 'D';
            else if (f.nativeType == 'N' || f.nativeType == 'F') k = 'N';
        }
        rawKinds_.push_back(k);
        if (dbf) rawOffsets_.push_back(f.offset);
    }
    const auto ktags = table_->tags();
    for (size_t i = 0; i < tags_.size(); ++i) {
        const int f = tags_[i].field;
        rawKeys_.push_back(dbf && f >= 0 && ktags[i].keyType == 'C' && !ktags[i].descending &&
                                   rawKinds_[static_cast<size_t>(f)] == 'C'
                               ? 1 : 0);
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
