#pragma once
// A grid over a dataset: whole-row selection that follows the dataset's
// cursor both ways; choosing a row moves the cursor (posting a modified
// record first, as moving off an edited row does).
//
// A cell editor takes no more characters than its column holds. Typing in
// it puts the dataset into Edit, and what it holds is written to the record
// before the record is posted or left (whatever posts it: a button, a move,
// a filter), so that nothing typed is lost or cut. Esc closes the editor
// and keeps what was typed in the record; dropping the record is the
// screen's business. A question box over the grid leaves the editor open,
// its text as it was.
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>

#include "platform/ui/data/DatasetModel.h"

namespace kui {

class DataGrid : public QTableView {
    Q_OBJECT
public:
    explicit DataGrid(QWidget* parent = nullptr);

    // Binds the grid to a dataset (the model is owned by the grid).
    DatasetModel* bind(kdb::Dataset* dataset, std::vector<GridColumn> columns = {});
    DatasetModel* datasetModel() const { return model_; }
    // The open cell editor, if any.
    QWidget* cellEditor() const { return editor_; }
    // Writes the open cell editor's text to the record when it differs from
    // the record's value; false when the record refused it.
    bool commitCellEditor();
    // Cells separated by two painted lines instead of the view's grid: at
    // the left edge of each cell, silver ($C0C0C0) two pixels left of it
    // and the highlight colour one pixel left of it.
    void setCellEdgeLines(bool on);
    bool cellEdgeLines() const { return edgeLines_; }

    // Width a cell needs to show Text whole in this grid's font.
    int cellWidthFor(const QString& text) const;
    // Makes the grid at least wide enough to show every column but the last
    // at its width and the last one with at least LastColumnChars average
    // characters, without a horizontal scroll bar.
    void setMinimumWidthForColumns(int lastColumnChars);
    // Closes the open cell editor, its text given up.
    void dropCellEditor();

protected:
    // Ctrl+Home and Ctrl+End go to the dataset's first and last rows, also
    // when the grid has not read them yet.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

signals:
    // A move refused by the dataset (a failed post); the text of the error.
    void moveFailed(const QString& message);

private:
    friend class DataGridDelegate;
    void editorOpened(QWidget* editor, const QModelIndex& index);
    void editorClosed(QWidget* editor);
    void editorTextChanged(QWidget* editor);
    bool editorDiffers() const;
    void followDataset(int row);
    void onSelectionChanged();
    void onScrolled(int value);
    void paintEdgeLines(QPainter* painter, const QRect& cell, int column) const;
    // Widens each column that is narrower than its title or, for a date,
    // than a date's text.
    void fitColumns();

    DatasetModel* model_ = nullptr;
    bool syncing_ = false;
    QPointer<QWidget> editor_;
    QPersistentModelIndex editorIndex_;
    bool committing_ = false;
    bool editorTyped_ = false;  // the user changed the open editor's text
    bool settingEditor_ = false;  // the stored value is being put in it
    bool edgeLines_ = false;
};

}  // namespace kui
