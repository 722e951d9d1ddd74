#include "dataset/Dataset.h"

#include <algorithm>

namespace kdb {

// ---- TableDataset ---------------------------------------------------------------

TableDataset::TableDataset(QObject* parent) : Dataset(parent) {}

void TableDataset::setIndexFieldNames(const std::string& fieldName) {
    if (active()) throw EDatabaseError("Cannot change the order of an open table");
    indexFields_ = fieldName;
    indexName_.clear();
}

void TableDataset::setIndexName(const std::string& tagName) {
    if (active()) throw EDatabaseError("Cannot change the order of an open table");
    indexName_ = tagName;
    indexFields_.clear();
}

void TableDataset::doOpen() {
    if (tableName_.empty()) throw EDatabaseError("No table name");
    TableOpenMode mode;
    mode.exclusive = exclusive_;
    mode.readOnly = readOnly_;
    table_ = database().openTable(tableName_, mode);
    tag_.reset();
    int tag = -1;
    if (!indexFields_.empty()) {
        int f = table_->fieldIndex(QString::fromStdString(indexFields_).trimmed().toStdString());
        tag = f >= 0 ? table_->tagOnField(f) : -1;
        if (tag < 0) {
            table_.reset();
            throw EDatabaseError("Index not found for fields: " + indexFields_);
        }
    } else if (!indexName_.empty()) {
        tag = table_->tagIndex(indexName_);
        if (tag < 0) {
            table_.reset();
            throw EDatabaseError("Index not found: " + indexName_);
        }
    }
    if (tag >= 0) {
        const TagInfo info = table_->tags()[static_cast<size_t>(tag)];
        tag_ = table_->openTag(info.name);
        tagField_ = table_->tagField(info);
    }
    tagStarted_ = false;
    nextPhysical_ = 1;
}

void TableDataset::rewindBase() {
    tagStarted_ = false;
    nextPhysical_ = 1;
    restricted_ = false;
    restrictedRecs_.clear();
    nextRestricted_ = 0;
    const int field = filterFieldInForce();
    const QVariant& value = filterValueInForce();
    if (!table_ || field < 0 || value.isNull() || (tag_ && tagField_ != field)) return;
    const bool isDate = value.typeId() == QMetaType::QDate;
    if (!isDate && (table_->fields()[static_cast<size_t>(field)].type != fldZSTRING || value.toString().isEmpty()))
        return;
    const int tag = table_->tagOnField(field);
    if (tag < 0) return;
    auto cursor = table_->openTag(table_->tags()[static_cast<size_t>(tag)].name);
    IndexReadHold hold(*table_);
    for (uint32_t r = cursor->seek(value); r; r = cursor->next()) {
        const QVariant v = table_->value(r, field);
        if (isDate ? v.toDate() != value.toDate() : sql::trimRight(v.toString()) != value.toString()) break;
        restrictedRecs_.push_back(r);
    }
    if (!tag_) std::sort(restrictedRecs_.begin(), restrictedRecs_.end());  // physical order
    restricted_ = true;
}

void TableDataset::doClose() {
    tag_.reset();
    table_.reset();
}

std::vector<FieldInfo> TableDataset::baseColumns() const { return table_->fields(); }

bool TableDataset::fetchBase(std::vector<uint32_t>& out, int max) {
    if (restricted_) {
        for (int taken = 0; taken < max && nextRestricted_ < restrictedRecs_.size(); ++nextRestricted_) {
            const uint32_t r = restrictedRecs_[nextRestricted_];
            if (!table_->isDeleted(r)) {
                out.push_back(r);
                ++taken;
            }
        }
        return nextRestricted_ < restrictedRecs_.size();
    }
    if (tag_) {
        const uint32_t at = tagStarted_ ? tag_->next() : tag_->first();
        tagStarted_ = true;
        if (!at) return false;
        // the entries of a batch read under one hold of the index
        int taken = 0;
        tag_->scanForward([&](uint32_t r, std::string_view) {
            if (!table_->isDeleted(r)) out.push_back(r);
            return ++taken < max;
        });
        return tag_->current() != 0;  // off the end: no more
    }
    uint32_t n = table_->recordCount();
    for (int i = 0; i < max; ++i) {
        while (nextPhysical_ <= n && table_->isDeleted(nextPhysical_)) ++nextPhysical_;
        if (nextPhysical_ > n) return false;
        out.push_back(nextPhysical_++);
    }
    return nextPhysical_ <= n;
}

QVariant TableDataset::baseValue(uint32_t handle, int field) { return table_->value(handle, field); }

uint32_t TableDataset::writeRecord(uint32_t handle, const std::vector<QVariant>& values) {
    uint32_t r;
    if (handle == 0) {
        r = table_->append(values);
    } else {
        table_->update(handle, values);
        r = handle;
    }
    if (flushOnPost_) table_->flush();
    return r;
}

bool TableDataset::keepsPlace(const std::vector<QVariant>& before, const std::vector<QVariant>& after) const {
    if (!tag_) return true;  // physical order
    if (tagField_ < 0) return false;
    const QVariant& a = before.at(static_cast<size_t>(tagField_));
    const QVariant& b = after.at(static_cast<size_t>(tagField_));
    return a == b;
}

void TableDataset::deleteRecord(uint32_t handle) {
    table_->deleteRecord(handle);
    if (flushOnPost_) table_->flush();
}

bool TableDataset::lockRow(uint32_t handle) { return !table_ || table_->lockRecord(handle); }

void TableDataset::unlockRow(uint32_t handle) {
    if (table_) table_->unlockRecord(handle);
}

void TableDataset::flushTable() {
    if (table_) table_->flush();
}

}  // namespace kdb
