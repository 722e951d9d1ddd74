#pragma once
// The prescriptions of the practice: reusable lists of medicine lines
// (FORD) known by their number, typed directly in a grid. A new
// prescription's number and every line's number are taken under FORD's
// allocation lock, held until the line is written, so two workstations
// never write into the same prescription by mistake nor the same line.
#include <QDialog>

#include <functional>

#include <vector>

class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
struct AppContext;

namespace kdb {
class QueryDataset;
class TableDataset;
}  // namespace kdb
namespace kui {
class DataGrid;
class DataNavigator;
struct GridColumn;
}  // namespace kui
namespace Ui {
class TfrmOrd;
}

class TfrmOrd : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOrd(AppContext& context, QWidget* parent = nullptr);
    ~TfrmOrd() override;

    bool OrdIsNew = false;

    // The number of a new prescription: the greatest numeric CODE + 1 (1
    // when there is none); past the width of CODE, the lowest free number;
    // a message and the silent abort when every number is taken.
    static int NewOrdCode();
    // The next line number of a prescription: its greatest NUM + 1, or 1.
    static int NewLineNum(const QString& code);
    // The grid columns of a prescription's lines (also the choice screen's).
    static std::vector<kui::GridColumn> LineColumns(bool editable);

    QLineEdit* edCode() const;
    kui::DataGrid* grdDetail() const;
    kui::DataNavigator* navOrd() const;
    QToolButton* btnNew() const;
    QToolButton* btnDelete() const;
    QToolButton* btnPost() const;
    QToolButton* btnCancel() const;
    QToolButton* btnAddLine() const;
    QToolButton* btnDelLine() const;
    QPushButton* btnClose() const;
    QMenu* PopMenu() const { return PopMenu_; }
    kdb::QueryDataset* qOrd() const { return qOrd_; }
    kdb::TableDataset* tMedic() const { return tMedic_; }

public slots:
    void btnNewClick();
    void btnAddLineClick();
    void btnPostClick();
    void btnCancelClick();
    void btnDelLineClick();
    void btnDeleteClick();
    void mnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormShow();
    void UpdateButtons();
    void qOrdAfterScroll();
    void ShowLinesOf(const QString& code);
    void SavePendingLine();
    void ReopenOrd(const QString& code);
    void tMedicNewRecord();
    void tMedicBeforePost();
    void tMedicAfterCancel();
    // Runs an action that may edit or write the line shown: a line another
    // workstation deleted is told (LineDeleted), any other failure shown as
    // records::Guarded does.
    void GuardedLine(const std::function<void()>& action);
    // A failure the grid or the navigator reports: a deleted line is told,
    // any other failure shown as it is.
    void LineFailed(const QString& message);
    // A line deleted on another workstation: said so; what was typed stays,
    // unsaved; a line merely shown goes from the grid.
    void LineDeleted();

    AppContext& context_;
    Ui::TfrmOrd* ui;
    kdb::QueryDataset* qOrd_;
    kdb::TableDataset* tMedic_;
    QMenu* PopMenu_;
    QAction *mnNew, *mnDelete, *mnPost, *mnCancel, *mnAddLine, *mnDelLine, *mnClose;
    bool newOrdWritten_ = false;  // a line of the new prescription is in FORD
    bool holdsLock_ = false;
};
