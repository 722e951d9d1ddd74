#include "platform/ui/data/DatasetModel.h"

#include <QBrush>

#include "platform/ui/Messages.h"

namespace kui {

using kdb::Dataset;
using kdb::DatasetState;
using kdb::Field;

RowPaintHook alternateRowColors()
{
    return [](RowPaint& p) {
        if (p.recNo % 2 == 0)
            p.background = QColor(0xEA, 0xEA, 0xEA);
        if (p.selected) {
            p.background = QColor(0x00, 0x00, 0x80);
            p.foreground = Qt::white;
        }
    };
}

RowPaintHook selectedRowColors()
{
    return [](RowPaint& p) {
        if (p.selected) {
            p.background = QColor(0x00, 0x00, 0x80);
            p.foreground = Qt::white;
        }
    };
}

DatasetModel::DatasetModel(Dataset* dataset, QObject* parent) : QAbstractTableModel(parent), dataset_(dataset)
{
    connect(dataset, &Dataset::rowsReset, this, &DatasetModel::onRowsReset);
    connect(dataset, &Dataset::currentChanged, this, &DatasetModel::onCurrentChanged);
    onRowsReset();
}

void DatasetModel::setColumns(std::vector<GridColumn> columns)
{
    beginResetModel();
    columns_ = std::move(columns);
    shown_ = effectiveColumns();
    endResetModel();
}

void DatasetModel::setRowPaint(RowPaintHook hook)
{
    paint_ = std::move(hook);
    if (rows_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

std::vector<GridColumn> DatasetModel::effectiveColumns() const
{
    if (!columns_.empty() || !dataset_ || !dataset_->active())
        return columns_;
    std::vector<GridColumn> all;
    for (int i = 0; i < dataset_->fieldCount(); ++i) {
        Field& f = dataset_->field(i);
        if (!f.visible)
            continue;
        GridColumn c;
        c.fieldName = f.fieldName();
        all.push_back(c);
    }
    return all;
}

Field* DatasetModel::fieldOf(int column) const
{
    if (!dataset_ || !dataset_->active() || column < 0 || column >= static_cast<int>(shown_.size()))
        return nullptr;
    return dataset_->findField(shown_[static_cast<size_t>(column)].fieldName);
}

void DatasetModel::onRowsReset()
{
    beginResetModel();
    shown_ = effectiveColumns();
    rows_ = dataset_ && dataset_->active() ? dataset_->loadedRowCount() : 0;
    endResetModel();
    lastCurrent_ = dataset_ ? dataset_->currentRow() : -1;
    emit currentRowChanged(lastCurrent_);
}

void DatasetModel::onCurrentChanged()
{
    if (!dataset_)
        return;
    int loaded = dataset_->active() ? dataset_->loadedRowCount() : 0;
    if (loaded > rows_) {  // the cursor read further rows
        beginInsertRows({}, rows_, loaded - 1);
        rows_ = loaded;
        endInsertRows();
    }
    int cur = dataset_->currentRow();
    int cols = columnCount();
    if (cols > 0) {
        for (int r : {lastCurrent_, cur})
            if (r >= 0 && r < rows_)
                emit dataChanged(index(r, 0), index(r, cols - 1));
    }
    if (cur != lastCurrent_) {
        lastCurrent_ = cur;
        emit currentRowChanged(cur);
    }
}

int DatasetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int DatasetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

bool DatasetModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && dataset_ && dataset_->active() &&
        (!dataset_->allRowsLoaded() || dataset_->loadedRowCount() > rows_);
}

void DatasetModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid() || !dataset_ || !dataset_->active())
        return;
    dataset_->loadMoreRows(fetchSize_);
    int loaded = dataset_->loadedRowCount();
    if (loaded <= rows_)
        return;
    beginInsertRows({}, rows_, loaded - 1);
    rows_ = loaded;
    endInsertRows();
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !dataset_ || index.row() >= rows_)
        return {};
    Field* f = fieldOf(index.column());
    if (!f)
        return {};
    const GridColumn& col = shown_[static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        QVariant v = dataset_->valueAt(index.row(), f->index());
        if (!v.isValid() || v.isNull())
            return QString();
        if (v.typeId() == QMetaType::QDate)
            return v.toDate().toString("dd/MM/yyyy");
        if (f->isMemo() && role == Qt::DisplayRole)
            return v.toString().section('\n', 0, 0);
        return v.toString();
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(col.alignment ? col.alignment : f->alignment);
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
        if (!paint_)
            return {};
        RowPaint p;
        p.row = index.row();
        p.recNo = index.row() + 1;
        p.selected = index.row() == dataset_->currentRow();
        paint_(p);
        const QColor& c = role == Qt::BackgroundRole ? p.background : p.foreground;
        return c.isValid() ? QVariant(QBrush(c)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(shown_.size())) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const GridColumn& c = shown_[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole) {
        if (!c.title.isEmpty())
            return c.title;
        Field* f = fieldOf(section);
        return f ? f->displayLabel : QString::fromStdString(c.fieldName);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(c.titleAlignment);
    return {};
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags fl = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return fl;
    Field* f = fieldOf(index.column());
    if (!readOnly_ && f && !f->readOnly && !f->isLookup() && shown_[static_cast<size_t>(index.column())].editable &&
        dataset_->canModify())
        fl |= Qt::ItemIsEditable;
    return fl;
}

bool DatasetModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    // A cell editor closed on the text it opened with changes nothing: no
    // edit is started, and a new row nobody typed in stays unmodified, so
    // that it is dropped when the user leaves it.
    if (value.toString() == data(index, Qt::EditRole).toString())
        return true;
    Field* f = fieldOf(index.column());
    try {
        dataset_->moveToRow(index.row());
        if (dataset_->state() == DatasetState::Browse)
            dataset_->edit();
        f->setAsString(value.toString());
    } catch (const std::exception& e) {
        lastError_ = kui::ExceptionText(e);
        emit editFailed(lastError_);
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

}  // namespace kui
