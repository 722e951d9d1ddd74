#pragma once
// A table model over a dataset for the grids. Rows are read on demand
// (canFetchMore/fetchMore), so a grid over a very large table costs what
// its visible rows cost. The current row of the dataset is the selected row.
#include <QAbstractTableModel>
#include <QColor>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "platform/db/dataset/Dataset.h"

namespace kui {

struct GridColumn {
    std::string fieldName;
    QString title;  // empty: the field's display label
    Qt::Alignment alignment = {};  // empty: the field's alignment
    Qt::Alignment titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool editable = false;
    int width = 0;  // pixels, 0: from the field
};

// What a row paint hook receives and may set.
struct RowPaint {
    int row = 0;  // 0-based row of the view
    int recNo = 0;  // 1-based record number in the dataset's order
    bool selected = false;  // the dataset's current row
    QColor background;  // invalid: the view's default
    QColor foreground;
};
using RowPaintHook = std::function<void(RowPaint&)>;

// Light grey ($EAEAEA) for an even record number, white on dark blue
// ($800000) for the selected row.
RowPaintHook alternateRowColors();
// Only the selected row, white on dark blue.
RowPaintHook selectedRowColors();

class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DatasetModel(kdb::Dataset* dataset, QObject* parent = nullptr);

    kdb::Dataset* dataset() const { return dataset_; }
    // Columns shown, in order; without any, every visible field.
    void setColumns(std::vector<GridColumn> columns);
    const std::vector<GridColumn>& columns() const { return columns_; }
    void setRowPaint(RowPaintHook hook);
    void setReadOnly(bool on) { readOnly_ = on; }
    // Rows read per fetch.
    void setFetchSize(int rows) { fetchSize_ = rows; }
    int fetchSize() const { return fetchSize_; }
    // Text of the last refused edit (a bad date, a number, an engine error).
    const QString& lastError() const { return lastError_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // The field behind a column, or nullptr.
    kdb::Field* fieldOf(int column) const;

signals:
    // The dataset's current row changed (-1 when there is none).
    void currentRowChanged(int row);
    void editFailed(const QString& message);

private:
    void onRowsReset();
    void onCurrentChanged();
    std::vector<GridColumn> effectiveColumns() const;

    QPointer<kdb::Dataset> dataset_;
    std::vector<GridColumn> columns_;
    std::vector<GridColumn> shown_;
    RowPaintHook paint_;
    bool readOnly_ = false;
    int fetchSize_ = 256;
    int rows_ = 0;
    int lastCurrent_ = -1;
    QString lastError_;
};

}  // namespace kui
