#include "platform/ui/data/DataGrid.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include "platform/os/Abort.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <algorithm>

namespace kui {

using kdb::Dataset;
using kdb::DatasetState;
using kdb::Field;

// The cell editors of a data grid: limited to their column's width, and
// followed by the grid while they are open.
class DataGridDelegate : public QStyledItemDelegate {
public:
    explicit DataGridDelegate(DataGrid* grid) : QStyledItemDelegate(grid), grid_(grid) { }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (!editor)
            return editor;
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            Field* f = grid_->datasetModel() ? grid_->datasetModel()->fieldOf(index.column()) : nullptr;
            if (f && f->dataType() == kdb::fldZSTRING && f->size() > 0) {
                line->setMaxLength(f->size());
                SetCodePage(line, DatasetCodePage(grid_->datasetModel()->dataset()));
            }
            DataGrid* grid = grid_;
            connect(line, &QLineEdit::textChanged, grid, [grid, line] { grid->editorTextChanged(line); });
        }
        grid_->editorOpened(editor, index);
        return editor;
    }

    // Once the user has typed in the editor, what it shows is theirs: the
    // record's notifications do not put the stored value back in it.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        if (editor == grid_->cellEditor() && grid_->editorTyped_)
            return;
        grid_->settingEditor_ = true;
        QStyledItemDelegate::setEditorData(editor, index);
        grid_->settingEditor_ = false;
    }

    // A row the model colours (the screens give their selected row colours
    // of their own) is drawn in the model's colours, not in the style's
    // selection colours.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt(option);
        if (index.data(Qt::BackgroundRole).isValid())
            opt.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, opt, index);
        if (grid_->edgeLines_)
            grid_->paintEdgeLines(painter, option.rect, index.column());
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override
    {
        grid_->editorClosed(editor);
        QStyledItemDelegate::destroyEditor(editor, index);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        // A question box over the grid (or another window) takes the focus:
        // the editor stays open as it is, its text neither written nor
        // dropped, and has the focus again once the window is back.
        if (event->type() == QEvent::FocusOut && object == grid_->cellEditor()) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
                return false;
        }
        // Esc closes an editor holding typed text without throwing it away.
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
            object == grid_->cellEditor() && grid_->editorDiffers()) {
            auto* editor = static_cast<QWidget*>(object);
            if (grid_->commitCellEditor())
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    DataGrid* grid_;
};

DataGrid::DataGrid(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setItemDelegate(new DataGridDelegate(this));
    // The last column takes the room the others leave.
    horizontalHeader()->setStretchLastSection(true);
}

DatasetModel* DataGrid::bind(Dataset* dataset, std::vector<GridColumn> columns)
{
    auto* m = new DatasetModel(dataset, this);
    m->setColumns(std::move(columns));
    if (model_) {
        if (model_->dataset())
            disconnect(model_->dataset(), &Dataset::updateRecord, this, nullptr);
        model_->deleteLater();
    }
    model_ = m;
    setModel(m);
    for (int c = 0; c < static_cast<int>(m->columns().size()); ++c)
        if (m->columns()[static_cast<size_t>(c)].width > 0)
            setColumnWidth(c, m->columns()[static_cast<size_t>(c)].width);
    connect(m, &DatasetModel::currentRowChanged, this, &DataGrid::followDataset);
    connect(m, &QAbstractItemModel::modelReset, this, [this] {
        fitColumns();
        followDataset(model_->dataset()->currentRow());
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &DataGrid::onSelectionChanged);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &DataGrid::onScrolled, Qt::UniqueConnection);
    connect(dataset, &Dataset::updateRecord, this, [this] { commitCellEditor(); });
    fitColumns();
    followDataset(dataset->currentRow());
    return m;
}

int DataGrid::cellWidthFor(const QString& text) const
{
    // The item's text margins on both sides, the grid line and a little room.
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    return fontMetrics().horizontalAdvance(text) + margin;
}

void DataGrid::fitColumns()
{
    if (!model_)
        return;
    const QHeaderView* header = horizontalHeader();
    for (int c = 0; c < model_->columnCount(); ++c) {
        int wanted = header->isVisible() ? header->sectionSizeHint(c) : 0;
        if (const kdb::Field* f = model_->fieldOf(c); f && f->dataType() == kdb::fldDATE)
            wanted = std::max(wanted, cellWidthFor(QStringLiteral("00/00/0000")));
        if (columnWidth(c) < wanted)
            setColumnWidth(c, wanted);
    }
}

void DataGrid::setMinimumWidthForColumns(int lastColumnChars)
{
    if (!model_ || model_->columnCount() == 0)
        return;
    fitColumns();
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    const int last = model_->columnCount() - 1;
    for (int c = 0; c < last; ++c)
        width += columnWidth(c);
    width += std::max(cellWidthFor(QString(lastColumnChars, QLatin1Char('x'))),
        last == 0 ? columnWidth(0) : 0);
    setMinimumWidth(width);
}

void DataGrid::setCellEdgeLines(bool on)
{
    edgeLines_ = on;
    setShowGrid(!on);
    viewport()->update();
}

void DataGrid::paintEdgeLines(QPainter* painter, const QRect& cell, int column) const
{
    const QColor silver(0xC0, 0xC0, 0xC0);
    const QColor highlight = palette().color(QPalette::Active, QPalette::Highlight);
    auto linesLeftOf = [&](int x) {
        painter->fillRect(QRect(x - 2, cell.top(), 1, cell.height()), silver);
        painter->fillRect(QRect(x - 1, cell.top(), 1, cell.height()), highlight);
    };
    linesLeftOf(cell.left());
    // The lines of the next cell fall inside this one: they are drawn here
    // too, so that a repaint of this cell alone keeps them.
    const QHeaderView* header = horizontalHeader();
    for (int v = header->visualIndex(column) + 1; v < header->count(); ++v) {
        if (!header->isSectionHidden(header->logicalIndex(v))) {
            linesLeftOf(cell.right() + 1);
            break;
        }
    }
}

void DataGrid::editorOpened(QWidget* editor, const QModelIndex& index)
{
    editor_ = editor;
    editorIndex_ = index;
    editorTyped_ = false;
}

void DataGrid::editorClosed(QWidget* editor)
{
    if (editor == editor_) {
        editor_ = nullptr;
        editorIndex_ = QPersistentModelIndex();
    }
}

bool DataGrid::editorDiffers() const
{
    if (!editor_ || !editorIndex_.isValid() || !model_)
        return false;
    const QMetaProperty user = editor_->metaObject()->userProperty();
    if (!user.isValid())
        return false;
    return user.read(editor_).toString() != model_->data(editorIndex_, Qt::EditRole).toString();
}

// The first change typed in a cell puts its record into Edit (the screen's
// buttons follow); the text itself is written when the cell is left or the
// record posted. A record another program holds closes the editor.
void DataGrid::editorTextChanged(QWidget* editor)
{
    if (settingEditor_ || editor != editor_)
        return;
    editorTyped_ = true;
    if (committing_ || !editorDiffers())
        return;
    Dataset* ds = model_->dataset();
    if (!ds || !ds->active() || ds->state() != DatasetState::Browse || ds->currentRow() != editorIndex_.row())
        return;
    QString error;
    committing_ = true;
    try {
        ds->edit();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        error = kui::ExceptionText(e);
    }
    committing_ = false;
    if (error.isEmpty())
        return;
    QTimer::singleShot(0, this, [this, e = QPointer<QWidget>(editor)] {
        if (e && e == editor_)
            closeEditor(e, QAbstractItemDelegate::RevertModelCache);
    });
    emit moveFailed(error);
}

void DataGrid::dropCellEditor()
{
    if (editor_)
        closeEditor(editor_, QAbstractItemDelegate::RevertModelCache);
}

bool DataGrid::commitCellEditor()
{
    if (committing_ || !editorDiffers())
        return true;
    bool refused = false;
    QString message;
    const QMetaObject::Connection watch = connect(model_, &DatasetModel::editFailed, this, [&](const QString& m) {
        refused = true;
        message = m;
    });
    committing_ = true;
    commitData(editor_);
    committing_ = false;
    disconnect(watch);
    if (refused)
        emit moveFailed(message);
    return !refused;
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
        emit moveFailed(kui::ExceptionText(e));
    }
}

QModelIndex DataGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    Dataset* ds = model_ ? model_->dataset() : nullptr;
    if ((action != MoveHome && action != MoveEnd) || !(modifiers & Qt::ControlModifier) || !ds || !ds->active())
        return QTableView::moveCursor(action, modifiers);
    // The rows not read yet are the dataset's to reach: the view alone
    // would stop at the last (or first) row it has read.
    QString error;
    try {
        if (action == MoveEnd)
            ds->last();
        else
            ds->first();
    } catch (const EAbort&) {
        // the silent abort: the cursor stays
    } catch (const std::exception& e) {
        error = kui::ExceptionText(e);
    }
    if (!error.isEmpty())
        emit moveFailed(error);
    const int row = ds->currentRow();
    if (row < 0 || row >= model_->rowCount())
        return currentIndex();
    return model_->index(row, std::max(0, currentIndex().column()));
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
        error = kui::ExceptionText(e);
    }
    syncing_ = false;
    followDataset(ds->currentRow());
    if (!error.isEmpty())
        emit moveFailed(error);
}

}  // namespace kui
