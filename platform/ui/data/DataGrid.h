#pragma once
// A grid over a dataset: whole-row selection that follows the dataset's
// cursor both ways; choosing a row moves the cursor (posting a modified
// record first, as moving off an edited row does).
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

signals:
    // A move refused by the dataset (a failed post); the text of the error.
    void moveFailed(const QString& message);

private:
    void followDataset(int row);
    void onSelectionChanged();
    void onScrolled(int value);

    DatasetModel* model_ = nullptr;
    bool syncing_ = false;
};

}  // namespace kui
