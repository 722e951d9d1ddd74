#include "platform/db/dataset/Dataset.h"

#include <algorithm>
#include <optional>

namespace kdb {

// ---- TableDataset ---------------------------------------------------------------

TableDataset::TableDataset(QObject* parent) : Dataset(parent)
{
}

void TableDataset::setIndexFieldNames(const std::string& fieldName)
{
    if (active())
        throw EDatabaseError("Impossible de changer l'ordre d'une table ouverte");
    indexFields_ = fieldName;
    indexName_.clear();
}

void TableDataset::setIndexName(const std::string& tagName)
{
    if (active())
        throw EDatabaseError("Impossible de changer l'ordre d'une table ouverte");
    indexName_ = tagName;
    indexFields_.clear();
}

void TableDataset::doOpen()
{
    if (tableName_.empty())
        throw EDatabaseError("Aucun nom de table");
    TableOpenMode mode;
    mode.exclusive = exclusive_;
    mode.readOnly = readOnly_;
    table_ = database().openTable(tableName_, mode);
    tag_.reset();
    int tag = -1;
    // A table without the tag its order needs (its index file missing, or
    // written by another program without it): the engine's error naming
    // the table, which the maintenance mends (the table check adds the
    // tags the schema declares).
    if (!indexFields_.empty()) {
        int f = table_->fieldIndex(QString::fromStdString(indexFields_).trimmed().toStdString());
        tag = f >= 0 ? table_->tagOnField(f) : -1;
        if (tag < 0) {
            const std::string path = table_->filePath();
            table_.reset();
            throw EDBEngineError::noSuchIndex(path, "on the field(s) " + indexFields_);
        }
    } else if (!indexName_.empty()) {
        tag = table_->tagIndex(indexName_);
        if (tag < 0) {
            const std::string path = table_->filePath();
            table_.reset();
            throw EDBEngineError::noSuchIndex(path, indexName_);
        }
    }
    if (tag >= 0) {
        const TagInfo info = table_->tags()[static_cast<size_t>(tag)];
        tagName_ = info.name;
        tag_ = table_->openTag(info.name);
        tagField_ = table_->tagField(info);
    }
    rewindBase();
}

void TableDataset::rewindBase()
{
    tagStarted_ = false;
    tagPositioned_ = false;
    nextPhysical_ = 1;
    if (!active())
        deletedHere_ = 0;
    backAnchor_ = 0;
    backPositioned_ = false;
    prevPhysical_ = 0;
    restricted_ = false;
    restrictedRecs_.clear();
    nextRestricted_ = 0;
    const int field = filterFieldInForce();
    const QVariant& value = filterValueInForce();
    if (!table_ || field < 0 || field >= table_->fieldCount() || value.isNull() || (tag_ && tagField_ != field))
        return;
    const bool isDate = value.typeId() == QMetaType::QDate;
    if (!isDate && (table_->fields()[static_cast<size_t>(field)].type != fldZSTRING || value.toString().isEmpty()))
        return;
    const int tag = table_->tagOnField(field);
    if (tag < 0)
        return;
    auto cursor = table_->openTag(table_->tags()[static_cast<size_t>(tag)].name);
    IndexReadHold hold(*table_);
    for (uint32_t r = cursor->seek(value); r; r = cursor->next()) {
        const QVariant v = table_->value(r, field);
        if (isDate ? v.toDate() != value.toDate() : sql::trimRight(v.toString()) != value.toString())
            break;
        restrictedRecs_.push_back(r);
    }
    if (!tag_)
        std::sort(restrictedRecs_.begin(), restrictedRecs_.end());  // physical order
    restricted_ = true;
}

void TableDataset::doClose()
{
    back_.reset();
    tag_.reset();
    table_.reset();
}

std::vector<FieldInfo> TableDataset::baseColumns() const
{
    return table_->fields();
}

bool TableDataset::fetchBase(std::vector<uint32_t>& out, int max)
{
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
        const uint32_t at = tagPositioned_ ? tag_->current() : tagStarted_ ? tag_->next() : tag_->first();
        tagStarted_ = true;
        tagPositioned_ = false;
        if (!at)
            return false;
        // the entries of a batch read under one hold of the index
        int taken = 0;
        tag_->scanForward([&](uint32_t r, std::string_view) {
            if (!table_->isDeleted(r))
                out.push_back(r);
            return ++taken < max;
        });
        return tag_->current() != 0;  // off the end: no more
    }
    uint32_t n = table_->recordCount();
    for (int i = 0; i < max; ++i) {
        while (nextPhysical_ <= n && table_->isDeleted(nextPhysical_))
            ++nextPhysical_;
        if (nextPhysical_ > n)
            return false;
        out.push_back(nextPhysical_++);
    }
    return nextPhysical_ <= n;
}

int TableDataset::positionOn(TagCursor& cursor, uint32_t handle)
{
    if (tagField_ < 0 || handle == 0 || handle > table_->recordCount())
        return -1;
    const QVariant key = table_->value(handle, tagField_);
    if (!cursor.seek(key))
        return 0;  // no entry of that key: on the one that follows
    if (cursor.current() == handle)
        return 1;
    // among the entries of the same key, in record order
    const std::string first(cursor.currentKey());
    bool found = false;
    cursor.scanForward([&](uint32_t r, std::string_view k) {
        if (r == handle) {
            found = true;
            return false;
        }
        const bool same = first.empty() ? table_->value(r, tagField_) == key : k == first;
        return same && r < handle;
    });
    return found ? 1 : 0;
}

bool TableDataset::seekBase(uint32_t handle)
{
    if (!table_ || restricted_)
        return false;  // the filter's rows are read from the first
    if (tag_) {
        // a cursor of its own: the reading goes on as it was when the record is not found
        std::unique_ptr<TagCursor> probe = table_->openTag(tagName_);
        if (positionOn(*probe, handle) < 0)
            return false;
        tag_ = std::move(probe);
        tagStarted_ = true;
        tagPositioned_ = true;
        backAnchor_ = handle;
        backPositioned_ = false;
        return true;
    }
    if (handle == 0 || handle > table_->recordCount())
        return false;
    nextPhysical_ = handle;
    prevPhysical_ = handle - 1;
    return true;
}

bool TableDataset::fetchBaseBackward(std::vector<uint32_t>& out, int max)
{
    if (!tag_) {
        for (int taken = 0; taken < max && prevPhysical_ >= 1; --prevPhysical_)
            if (!table_->isDeleted(prevPhysical_)) {
                out.push_back(prevPhysical_);
                ++taken;
            }
        return prevPhysical_ >= 1;
    }
    if (!backAnchor_)
        return false;
    IndexReadHold hold(*table_);
    if (!backPositioned_) {
        if (!back_)
            back_ = table_->openTag(tagName_);
        if (positionOn(*back_, backAnchor_) < 0)
            return false;
        backPositioned_ = true;
    }
    for (int taken = 0; taken < max;) {
        const uint32_t r = back_->prior();
        if (!r)
            return false;
        if (!table_->isDeleted(r)) {
            out.push_back(r);
            ++taken;
        }
    }
    return true;
}

int TableDataset::quickCount()
{
    return table_ ? static_cast<int>(table_->recordCount() - deletedHere_) : -1;
}

void TableDataset::rereadBase()
{
    if (table_)
        table_->refresh();
}

QVariant TableDataset::baseValue(uint32_t handle, int field)
{
    return table_->value(handle, field);
}

uint32_t TableDataset::writeRecord(uint32_t handle, const std::vector<QVariant>& values)
{
    // A write flushed at once is made and forced under one hold of the
    // table, as a statement is: the others wait once, and the index is
    // written out once.
    std::optional<StatementHold> hold;
    if (flushOnPost_)
        hold.emplace(*table_);
    uint32_t r;
    if (handle == 0) {
        r = table_->append(values);
    } else {
        table_->update(handle, values);
        r = handle;
    }
    if (flushOnPost_)
        table_->flush();
    return r;
}

bool TableDataset::keepsPlace(const std::vector<QVariant>& before, const std::vector<QVariant>& after) const
{
    if (!tag_)
        return true;  // physical order
    if (tagField_ < 0)
        return false;
    const QVariant& a = before.at(static_cast<size_t>(tagField_));
    const QVariant& b = after.at(static_cast<size_t>(tagField_));
    return a == b;
}

void TableDataset::deleteRecord(uint32_t handle)
{
    std::optional<StatementHold> hold;
    if (flushOnPost_)
        hold.emplace(*table_);
    table_->deleteRecord(handle);
    ++deletedHere_;
    if (flushOnPost_)
        table_->flush();
}

bool TableDataset::lockRow(uint32_t handle)
{
    return !table_ || table_->lockRecord(handle);
}

void TableDataset::unlockRow(uint32_t handle)
{
    if (table_)
        table_->unlockRecord(handle);
}

bool TableDataset::rowGone(uint32_t handle)
{
    if (!table_ || handle == 0 || handle > table_->recordCount())
        return false;
    // the deletion flag as the file holds it now
    const std::string stored = table_->storedRecord(handle);
    return stored.empty() ? table_->isDeleted(handle) : stored[0] == '*';
}

void TableDataset::flushTable()
{
    if (table_)
        table_->flush();
}

}  // namespace kdb
