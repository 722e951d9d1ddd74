#pragma once
// The executor's view of an open engine table.
#include <memory>

#include "core/Table.h"
#include "sql/Source.h"

namespace kdb::sql {

class TableSource : public Source {
public:
    explicit TableSource(std::shared_ptr<Table> table);

    Table& table() { return *table_; }
    const std::vector<ColumnInfo>& columns() const override { return columns_; }
    std::vector<TagInfo> tags() const override { return tags_; }
    uint32_t recordCount() override { return table_->recordCount(); }
    bool isDeleted(uint32_t recNo) override { return table_->isDeleted(recNo); }
    QVariant value(uint32_t recNo, int field) override { return table_->value(recNo, field); }
    std::unique_ptr<TagIterator> openTag(int tag) override;
    char rawKind(int field) const override { return rawKinds_.at(static_cast<size_t>(field)); }
    std::string_view rawField(uint32_t recNo, int field) override { return table_->rawField(recNo, field); }
    const char* rawRecord(uint32_t recNo) override { return rawOffsets_.empty() ? nullptr : table_->rawRecord(recNo); }
    int rawOffset(int field) const override {
        return rawOffsets_.empty() ? -1 : rawOffsets_.at(static_cast<size_t>(field));
    }
    bool rawKeysOf(int tag) const override { return rawKeys_.at(static_cast<size_t>(tag)) != 0; }
    void beginIndexRead() override { table_->beginIndexRead(); }
    void endIndexRead() override { table_->endIndexRead(); }
    uint32_t append(const std::vector<QVariant>& values) override { return table_->append(values); }
    void update(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values) override;
    void remove(uint32_t recNo) override { table_->deleteRecord(recNo); }
    void flush() override { table_->flush(); }

private:
    std::shared_ptr<Table> table_;
    std::vector<ColumnInfo> columns_;
    std::vector<TagInfo> tags_;
    std::vector<char> rawKinds_;
    std::vector<char> rawKeys_;
    std::vector<int> rawOffsets_;  // empty without the .DBF layout
};

// Opens tables through the engine; the file is looked up in the directory
// ignoring case, with ".DBF" then ".DB" tried for a name without extension.
std::shared_ptr<Source> openEngineTable(const std::string& directory, const std::string& tableName,
                                        const OpenMode& mode);

}  // namespace kdb::sql
