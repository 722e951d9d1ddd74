#pragma once
// The list of every operative protocol of the practice, in date order:
// new, open, delete (with its detail file) and print.
#include <QDialog>

class QAction;
class QMenu;
class QPushButton;
class QToolButton;
struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace kui {
class DataGrid;
}
namespace Ui {
class TfrmListProt;
}

class TfrmListProt : public QDialog {
    Q_OBJECT
public:
    explicit TfrmListProt(AppContext& context, QWidget* parent = nullptr);
    ~TfrmListProt() override;

    kui::DataGrid* grdRDV() const;
    QToolButton* btnAdd() const;
    QToolButton* btnDelete() const;
    QToolButton* btnModif() const;
    QPushButton* btnClose() const;
    QMenu* PopMnProt() const { return PopMnProt_; }
    kdb::QueryDataset* qPROT() const { return qPROT_; }

    // Rereads the list and makes NUM the current row (the first row when
    // NUM is empty).
    void RefreshList(const QString& num);

public slots:
    void btnAddClick();
    void btnModifClick();
    void btnDeleteClick();
    void mnPrintClick();
    void mnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void UpdateButtons();
    QString CurrentNum() const;
    // Whether the current row is still as the list shows it; a protocol
    // another workstation deleted or changed is told and the list read
    // again.
    bool RowUpToDate();
    // The current row named in the messages.
    QString RowWhat() const;

    AppContext& context_;
    Ui::TfrmListProt* ui;
    kdb::QueryDataset* qPROT_;
    QMenu* PopMnProt_;
    QAction *mnNew, *mnDelete, *mnModif, *mnPrint, *mnClose;
};
