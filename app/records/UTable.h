#pragma once
// The editor of a two-column reference table (CODE, LIBELLE): the lists of
// radiology and biology exams. The user types labels only; the dialog
// gives each new row the lowest free code of CodeLength characters, under
// the table's allocation lock held until the row is written, so two
// workstations never take the same code.
#include <QDialog>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QToolButton;
class QWidget;
struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace kui {
class DataGrid;
}
namespace Ui {
class TfrmTable;
}

class TfrmTable : public QDialog {
    Q_OBJECT
public:
    explicit TfrmTable(AppContext& context, QWidget* parent = nullptr);
    ~TfrmTable() override;

    QString DatabaseName;
    QString TableName;
    QString Title;
    int CodeLength = 3;

    kui::DataGrid* grdTable() const;
    QWidget* pnlSaisie() const;
    QLabel* lMode() const;
    QLineEdit* edCode() const;
    QLineEdit* edDesig() const;
    QPushButton* btnOk() const;
    QPushButton* btnCancel() const;
    QToolButton* btnAdd() const;
    QToolButton* btnDelete() const;
    QToolButton* btnModif() const;
    QPushButton* btnClose() const;
    QStatusBar* stBar() const;
    QMenu* PopMenu() const { return PopMenu_; }
    kdb::QueryDataset* qTable() const { return qTable_; }

    // The lowest code of Width characters that the table does not hold (nor,
    // for an exam list, an exam still using it); the caller holds the
    // table's allocation lock. Shows a message and ends with the silent
    // abort when a code is not made of digits and capitals, or when every
    // code is taken.
    static QString NextFreeCode(const QString& TableName, const QString& DatabaseName, int Width);

public slots:
    void btnAddClick();
    void btnModifClick();
    void btnOkClick();
    void btnCancelClick();
    void btnDeleteClick();
    void grdTableTitleClick(int column);
    void mnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormShow();
    void UpdateButtons();
    void dsqTableDataChange();
    void Reopen(const QString& code);
    QString ListSql() const;
    // The label typed differs from the one the entry panel opened with
    // (blanks around it aside: they are never saved).
    bool Typed() const;
    // The question before a delete: with the number of exams that name
    // the code, when there are.
    QString DeleteQuestion(const QString& code) const;

    AppContext& context_;
    Ui::TfrmTable* ui;
    kdb::QueryDataset* qTable_;
    QMenu* PopMenu_;
    QAction *mnNew, *mnDelete, *mnModif, *mnClose;
    QString order_ = QStringLiteral("LIBELLE");
    QString desigFrom_;
};
