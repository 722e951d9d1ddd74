#pragma once
// An in-memory table for the tests and benchmarks of the SQL and dataset
// layers: records in vectors, tags kept as sorted (key, record) lists.
#include <QDate>
#include <QVariant>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"

namespace kdbtest {

using kdb::FieldInfo;

struct MemColumn {
    std::string name;
    char kind;  // 'C' character, 'D' date, 'M' memo, 'I' 16-bit integer, 'N' numeric
    int width = 0;
};

struct MemTag {
    std::string name;
    std::string field;
    bool unique = false;
};

class MemTable : public kdb::Table {
public:
    MemTable(std::string name, const std::vector<MemColumn>& cols, const std::vector<MemTag>& tags)
        : name_(std::move(name))
    {
        for (const MemColumn& c : cols) {
            FieldInfo f;
            f.name = c.name;
            f.nativeType = c.kind;
            f.width = c.width;
            switch (c.kind) {
            case 'C':
                f.type = kdb::fldZSTRING;
                break;
            case 'D':
                f.type = kdb::fldDATE;
                f.width = 8;
                break;
            case 'M':
                f.type = kdb::fldBLOB;
                f.subType = kdb::fldstMEMO;
                f.width = 10;
                break;
            case 'I':
                f.type = kdb::fldINT16;
                f.width = 6;
                break;
            default:
                f.type = kdb::fldFLOAT;
                break;
            }
            fields_.push_back(f);
        }
        for (const MemTag& t : tags) {
            kdb::TagInfo ti;
            ti.name = t.name;
            ti.keyExpr = t.field;
            ti.unique = t.unique;
            int fi = fieldIndex(t.field);
            ti.keyType = fi >= 0 && fields_[static_cast<size_t>(fi)].type == kdb::fldDATE ? 'D' : 'C';
            tags_.push_back(ti);
        }
    }

    int flushes = 0;
    mutable int valueReads = 0;

    std::string tableType() const override { return "DBASE"; }
    std::string filePath() const override { return "/mem/" + name_ + ".DBF"; }
    bool isExclusive() const override { return false; }
    bool isReadOnly() const override { return false; }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    uint32_t recordSize() const override { return 1; }
    uint32_t recordCount() const override { return static_cast<uint32_t>(rows_.size()); }
    bool isDeleted(uint32_t r) override { return deleted_.at(r - 1); }
    QVariant value(uint32_t r, int f) override
    {
        ++valueReads;
        return rows_.at(r - 1).at(static_cast<size_t>(f));
    }
    std::string_view rawField(uint32_t, int) override { return {}; }

    uint32_t append(const std::vector<QVariant>& values) override
    {
        std::vector<QVariant> rec = normalise(values);
        checkUnique(rec, 0);
        rows_.push_back(rec);
        deleted_.push_back(false);
        dirty_ = true;
        return static_cast<uint32_t>(rows_.size());
    }
    void update(uint32_t r, const std::vector<QVariant>& values) override
    {
        std::vector<QVariant> rec = normalise(values);
        checkUnique(rec, r);
        rows_.at(r - 1) = rec;
        dirty_ = true;
    }
    void deleteRecord(uint32_t r) override
    {
        deleted_.at(r - 1) = true;
        dirty_ = true;
    }
    void undeleteRecord(uint32_t r) override
    {
        deleted_.at(r - 1) = false;
        dirty_ = true;
    }
    void flush() override { ++flushes; }
    void refresh() override { }
    bool lockRecord(uint32_t) override { return true; }
    void unlockRecord(uint32_t) override { }
    bool lockTable() override { return true; }
    void unlockTable() override { }
    std::vector<kdb::TagInfo> tags() const override { return tags_; }

    std::unique_ptr<kdb::TagCursor> openTag(std::string_view tagName) override
    {
        int t = tagIndex(tagName);
        if (t < 0)
            throw EDBEngineError::invalidParam(filePath(), "no such tag");
        rebuild();
        return std::make_unique<Cursor>(this, t);
    }

private:
    using Entry = std::pair<QVariant, uint32_t>;

    static int cmp(const QVariant& a, const QVariant& b)
    {
        if (a.isNull() || b.isNull())
            return a.isNull() ? (b.isNull() ? 0 : -1) : 1;
        if (a.typeId() == QMetaType::QDate)
            return a.toDate() < b.toDate() ? -1 : (b.toDate() < a.toDate() ? 1 : 0);
        if (a.typeId() == QMetaType::Int || a.typeId() == QMetaType::Double)
            return a.toDouble() < b.toDouble() ? -1 : (b.toDouble() < a.toDouble() ? 1 : 0);
        int c = a.toString().compare(b.toString());
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }

    std::vector<QVariant> normalise(const std::vector<QVariant>& in) const
    {
        std::vector<QVariant> out(fields_.size());
        for (size_t i = 0; i < fields_.size() && i < in.size(); ++i) {
            const QVariant& v = in[i];
            if (!v.isValid() || v.isNull())
                continue;
            switch (fields_[i].nativeType) {
            case 'C': {
                QString s = v.typeId() == QMetaType::QDate ? v.toDate().toString("yyyyMMdd") : v.toString();
                while (!s.isEmpty() && s.back() == ' ')
                    s.chop(1);
                s = s.left(fields_[i].width);
                if (!s.isEmpty())
                    out[i] = s;
                break;
            }
            case 'D':
                if (v.toDate().isValid())
                    out[i] = v.toDate();
                break;
            case 'M':
                if (!v.toString().isEmpty())
                    out[i] = v.toString();
                break;
            case 'I': {
                bool ok = false;
                int n = v.toString().trimmed().toInt(&ok);
                if (!ok)
                    throw EDBEngineError::invalidParam(filePath(), "cannot convert");
                out[i] = n;
                break;
            }
            default: {
                bool ok = false;
                double d = v.toString().trimmed().toDouble(&ok);
                if (!ok)
                    throw EDBEngineError::invalidParam(filePath(), "cannot convert");
                if (d == static_cast<double>(static_cast<int>(d)))
                    out[i] = static_cast<int>(d);
                else
                    out[i] = d;
            }
            }
        }
        return out;
    }

    void checkUnique(const std::vector<QVariant>& rec, uint32_t self)
    {
        for (const kdb::TagInfo& t : tags_) {
            if (!t.unique)
                continue;
            int f = fieldIndex(t.keyExpr);
            if (f < 0)
                continue;
            for (size_t r = 0; r < rows_.size(); ++r)
                if (!deleted_[r] && r + 1 != self &&
                    cmp(rows_[r][static_cast<size_t>(f)], rec[static_cast<size_t>(f)]) == 0)
                    throw EDBEngineError::keyViolation(filePath(), t.name);
        }
    }

    void rebuild()
    {
        if (!dirty_ && index_.size() == tags_.size())
            return;
        index_.assign(tags_.size(), {});
        for (size_t t = 0; t < tags_.size(); ++t) {
            int f = fieldIndex(tags_[t].keyExpr);
            auto& idx = index_[t];
            for (size_t r = 0; r < rows_.size(); ++r) {
                if (deleted_[r])
                    continue;
                QVariant key;
                if (f >= 0)
                    key = rows_[r][static_cast<size_t>(f)];
                else {  // "A+B": concatenated texts
                    QString s;
                    for (const QString& part : QString::fromStdString(tags_[t].keyExpr).split('+')) {
                        int pf = fieldIndex(part.trimmed().toStdString());
                        s += rows_[r][static_cast<size_t>(pf)].toString().leftJustified(
                            fields_[static_cast<size_t>(pf)].width, ' ');
                    }
                    key = s;
                }
                idx.emplace_back(key, static_cast<uint32_t>(r + 1));
            }
            std::stable_sort(
                idx.begin(), idx.end(), [](const Entry& a, const Entry& b) { return cmp(a.first, b.first) < 0; });
        }
        dirty_ = false;
    }

    class Cursor : public kdb::TagCursor {
    public:
        Cursor(MemTable* t, int tag) : t_(t), tag_(tag) { }
        uint32_t first() override
        {
            pos_ = 0;
            return current();
        }
        uint32_t last() override
        {
            pos_ = static_cast<long>(idx().size()) - 1;
            return current();
        }
        uint32_t next() override
        {
            if (pos_ < static_cast<long>(idx().size()))
                ++pos_;
            return current();
        }
        uint32_t prior() override
        {
            if (pos_ >= 0)
                --pos_;
            return current();
        }
        uint32_t current() const override
        {
            return pos_ >= 0 && pos_ < static_cast<long>(idx().size()) ? idx()[static_cast<size_t>(pos_)].second : 0;
        }
        uint32_t seek(const QVariant& key, bool partial) override
        {
            const auto& v = idx();
            auto it = std::lower_bound(
                v.begin(), v.end(), key, [](const Entry& e, const QVariant& k) { return cmp(e.first, k) < 0; });
            pos_ = it - v.begin();
            if (it == v.end())
                return 0;
            bool match = partial ? it->first.toString().startsWith(key.toString()) : cmp(it->first, key) == 0;
            return match ? it->second : 0;
        }

    private:
        const std::vector<Entry>& idx() const
        {
            t_->rebuild();
            return t_->index_[static_cast<size_t>(tag_)];
        }
        MemTable* t_;
        int tag_;
        long pos_ = -1;
    };

    std::string name_;
    std::vector<FieldInfo> fields_;
    std::vector<kdb::TagInfo> tags_;
    std::vector<std::vector<QVariant>> rows_;
    std::vector<bool> deleted_;
    std::vector<std::vector<Entry>> index_;
    bool dirty_ = true;
};

// A table seen through another one: every call goes to it. Tests derive
// from it to hide what a table offers (its tags, its stored bytes).
class ForwardTable : public kdb::Table {
public:
    explicit ForwardTable(std::shared_ptr<kdb::Table> t) : t_(std::move(t)) { }
    std::string tableType() const override { return t_->tableType(); }
    std::string filePath() const override { return t_->filePath(); }
    bool isExclusive() const override { return t_->isExclusive(); }
    bool isReadOnly() const override { return t_->isReadOnly(); }
    const std::vector<FieldInfo>& fields() const override { return t_->fields(); }
    uint32_t recordSize() const override { return t_->recordSize(); }
    uint32_t recordCount() const override { return t_->recordCount(); }
    bool isDeleted(uint32_t r) override { return t_->isDeleted(r); }
    QVariant value(uint32_t r, int f) override { return t_->value(r, f); }
    std::string_view rawField(uint32_t r, int f) override { return t_->rawField(r, f); }
    bool hasDbfLayout() const override { return t_->hasDbfLayout(); }
    const char* rawRecord(uint32_t r) override { return t_->rawRecord(r); }
    uint32_t append(const std::vector<QVariant>& v) override { return t_->append(v); }
    void update(uint32_t r, const std::vector<QVariant>& v) override { t_->update(r, v); }
    void deleteRecord(uint32_t r) override { t_->deleteRecord(r); }
    void undeleteRecord(uint32_t r) override { t_->undeleteRecord(r); }
    void flush() override { t_->flush(); }
    void refresh() override { t_->refresh(); }
    bool lockRecord(uint32_t r) override { return t_->lockRecord(r); }
    void unlockRecord(uint32_t r) override { t_->unlockRecord(r); }
    bool lockTable() override { return t_->lockTable(); }
    void unlockTable() override { t_->unlockTable(); }
    std::vector<kdb::TagInfo> tags() const override { return t_->tags(); }
    std::unique_ptr<kdb::TagCursor> openTag(std::string_view tag) override { return t_->openTag(tag); }
    void beginIndexRead() override { t_->beginIndexRead(); }
    void endIndexRead() override { t_->endIndexRead(); }

private:
    std::shared_ptr<kdb::Table> t_;
};

// Tables by (upper-case) base name, reached through `database`.
class MemDatabase {
public:
    std::shared_ptr<MemTable> add(
        const std::string& name, const std::vector<MemColumn>& cols, const std::vector<MemTag>& tags = {})
    {
        auto t = std::make_shared<MemTable>(name, cols, tags);
        tables_[kdb::Database::baseName(name)] = t;
        return t;
    }
    std::shared_ptr<MemTable> get(const std::string& name)
    {
        auto it = tables_.find(kdb::Database::baseName(name));
        return it == tables_.end() ? nullptr : it->second;
    }

    kdb::Database database{"/mem",
        [this](const std::string&, const std::string& name, const kdb::TableOpenMode&) -> std::shared_ptr<kdb::Table> {
            return get(name);
        }};

private:
    std::map<std::string, std::shared_ptr<MemTable>> tables_;
};

}  // namespace kdbtest
