#include "sql/TableSource.h"

#include <cctype>
#include <chrono>
#include <mutex>

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
    table_->updateFields(recNo, values);
}

#ifdef KORVALE_SQL_HAVE_ENGINE
namespace {

// Tables of finished statements, kept open for the next statement on the
// same file: a few handles, none idle for long, holding no lock meanwhile
// (see Table::park).
class IdleTables {
public:
    static constexpr size_t kMax = 8;
    static constexpr auto kMaxIdle = std::chrono::seconds(3);

    // A kept table for the key, ready for use; null when there is none.
    std::unique_ptr<Table> take(const std::string& key) {
        std::vector<std::unique_ptr<Table>> dropped;   // closed outside the mutex
        std::unique_ptr<Table> found;
        {
            std::lock_guard<std::mutex> g(m_);
            const auto now = std::chrono::steady_clock::now();
            for (size_t i = idle_.size(); i-- > 0;) {
                if (now - idle_[i].since > kMaxIdle || (!found && idle_[i].key == key)) {
                    if (!found && idle_[i].key == key && now - idle_[i].since <= kMaxIdle)
                        found = std::move(idle_[i].table);
                    else
                        dropped.push_back(std::move(idle_[i].table));
                    idle_.erase(idle_.begin() + static_cast<long>(i));
                }
            }
        }
        if (found && !found->unpark()) found.reset();
        return found;
    }

    void put(const std::string& key, std::unique_ptr<Table> t) {
        std::unique_ptr<Table> dropped;
        std::lock_guard<std::mutex> g(m_);
        if (idle_.size() >= kMax) {
            dropped = std::move(idle_.front().table);
            idle_.erase(idle_.begin());
        }
        idle_.push_back({key, std::move(t), std::chrono::steady_clock::now()});
    }

    // Closes every kept table of a file before an exclusive open.
    void dropFile(const std::string& path) {
        std::vector<std::unique_ptr<Table>> dropped;
        std::lock_guard<std::mutex> g(m_);
        for (size_t i = idle_.size(); i-- > 0;)
            if (idle_[i].table->filePath() == path) {
                dropped.push_back(std::move(idle_[i].table));
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
    }

private:
    struct Kept {
        std::string key;
        std::unique_ptr<Table> table;
        std::chrono::steady_clock::time_point since;
    };
    std::mutex m_;
    std::vector<Kept> idle_;
};

IdleTables& idleTables() {
    static IdleTables* tables = new IdleTables;   // never destroyed: used until the program ends
    return *tables;
}

}  // namespace
#endif

std::shared_ptr<Source> openEngineTable(const std::string& directory, const std::string& tableName,
                                        const OpenMode& mode) {
#ifdef KORVALE_SQL_HAVE_ENGINE
    engine::OpenOptions o;
    o.exclusive = mode.exclusive;
    o.readOnly = mode.readOnly;
    std::string key = directory + '\n' + (mode.readOnly ? "r\n" : "w\n");
    for (char c : tableName) key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    std::unique_ptr<Table> t;
    if (!mode.exclusive) t = idleTables().take(key);
    if (!t) {
        // the engine finds the file in any case, ".DBF" then ".DB" without extension
        t = engine::openTable(directory, tableName, o);
        if (mode.exclusive) idleTables().dropFile(t->filePath());
    }
    std::shared_ptr<Table> shared(t.release(), [key](Table* p) {
        std::unique_ptr<Table> owned(p);
        try {
            if (owned->park()) idleTables().put(key, std::move(owned));
        } catch (...) {
        }
    });
    return std::make_shared<TableSource>(std::move(shared));
#else
    (void)directory;
    (void)mode;
    throw EDBEngineError::noSuchTable(directory + "/" + tableName);
#endif
}

}  // namespace kdb::sql
