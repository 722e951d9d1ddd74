#include "platform/ui/data/DataGrid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>

#include "platform/os/Abort.h"

namespace kui {

using kdb::Dataset;
using kdb::DatasetState;
using kdb::Field;

DataGrid::DataGrid(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
}

DatasetModel* DataGrid::bind(Dataset* dataset, std::vector<GridColumn> columns)
{
    auto* m = new DatasetModel(dataset, this);
    m->setColumns(std::move(columns));
    if (model_)
        model_->deleteLater();
    model_ = m;
    setModel(m);
    for (int c = 0; c < static_cast<int>(m->columns().size()); ++c)
        if (m->columns()[static_cast<size_t>(c)].width > 0)
            setColumnWidth(c, m->columns()[static_cast<size_t>(c)].width);
    connect(m, &DatasetModel::currentRowChanged, this, &DataGrid::followDataset);
    connect(m, &QAbstractItemModel::modelReset, this, [this] { followDataset(model_->dataset()->currentRow()); });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &DataGrid::onSelectionChanged);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &DataGrid::onScrolled, Qt::UniqueConnection);
    followDataset(dataset->currentRow());
    return m;
}

// At the top of rows that do not start at the dataset's first row, the rows
// before them are read (the model is reset on them, the current row kept).
void DataGrid::onScrolled(int value)
{
    Dataset* ds = model_ ? model_->dataset() : nullptr;
    if (!ds || !ds->active() || ds->allRowsBeforeLoaded() || value != verticalScrollBar()->minimum())
        return;
    try {
        ds->loadRowsBefore(model_->fetchSize());
    } catch (const std::exception& e) {
        emit moveFailed(QString::fromUtf8(e.what()));
    }
}

void DataGrid::followDataset(int row)
{
    if (syncing_ || !selectionModel())
        return;
    syncing_ = true;
    if (row < 0 || row >= model_->rowCount()) {
        selectionModel()->clearSelection();
    } else {
        QModelIndex idx = model_->index(row, std::max(0, currentIndex().column()));
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(idx);
    }
    syncing_ = false;
}

void DataGrid::onSelectionChanged()
{
    if (syncing_ || !model_)
        return;
    int row = currentIndex().row();
    Dataset* ds = model_->dataset();
    if (!ds || row < 0 || row == ds->currentRow())
        return;
    syncing_ = true;
    QString error;
    try {
        ds->moveToRow(row);
    } catch (const EAbort&) {
        // the silent abort: the cursor stays
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    syncing_ = false;
    followDataset(ds->currentRow());
    if (!error.isEmpty())
        emit moveFailed(error);
}

}  // namespace kui
