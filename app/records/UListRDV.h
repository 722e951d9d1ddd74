#pragma once
// The appointment list: the appointments of one day (today at start) or all
// of them, with the patient's name; adds, changes (through the appointment
// entry) and deletes. A non-modal window inside the main window, kept in
// one instance, frmListRDV.
#include <QDate>
#include <QWidget>

class QAction;
class QDateEdit;
class QLabel;
class QMdiArea;
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
class TfrmListRDV;
}

class TfrmListRDV : public QWidget {
    Q_OBJECT
public:
    explicit TfrmListRDV(AppContext& context, QWidget* parent = nullptr);
    ~TfrmListRDV() override;

    kui::DataGrid* grdRDV() const;
    QToolButton* btnAdd() const;
    QToolButton* btnDelete() const;
    QToolButton* btnModif() const;
    QPushButton* btnAll() const;
    QPushButton* btnClose() const;
    QDateEdit* edDate() const;
    QLabel* lDate() const;
    QMenu* PopMnRDV() const { return PopMnRDV_; }
    QAction* mnAll() const { return mnAll_; }
    QAction* mnAutoDisplay() const { return mnAutoDisplay_; }
    QAction* mnDelete() const { return mnDelete_; }
    QAction* mnModif() const { return mnModif_; }
    kdb::QueryDataset* qRDV() const { return qRDV_; }

    // Rereads the list (view and day kept) and makes NUM the current row
    // (the first row when NUM is empty).
    void RefreshList(const QString& num);

public slots:
    void edDateChange();
    void btnAllClick();
    void btnAddClick();
    void btnModifClick();
    void btnDeleteClick();
    void mnAutoDisplayClick();
    void PopMnRDVPopup();
    // Closes the window (its frame inside the main window).
    void CloseWindow();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void UpdateButtons();
    void ApplyView();
    void EditRdv(const QString& num, const QString& patient, QString* saved);
    // Whether the current row is still as the list shows it; an appointment
    // another workstation deleted or changed is told and the list read
    // again.
    bool RowUpToDate();
    // The current row named in the messages.
    QString RowWhat() const;
    QString DayFilter() const;

    AppContext& context_;
    Ui::TfrmListRDV* ui;
    kdb::QueryDataset* qRDV_;
    QMenu* PopMnRDV_;
    QAction *mnNew_, *mnDelete_, *mnModif_, *mnAll_, *mnAutoDisplay_, *mnClose_;
};

// The one appointment list (null while none is open).
extern TfrmListRDV* frmListRDV;

// Shows the appointment list inside the main window's client area,
// creating it when none exists, else bringing the existing one to the front.
TfrmListRDV* ShowAppointmentList(AppContext& context, QMdiArea* area);

// What the appointment list was showing: the day, or every appointment.
struct AppointmentListView {
    bool open = false;  // the list was open
    QDate day;
    bool all = false;
};

// Closes and frees the appointment list when it is open, so that it no
// longer holds its tables (before the maintenance commands and the restore
// work on the table files); answers what it was showing.
AppointmentListView ReleaseAppointmentList();

// Shows the list again as it was when released.
void ShowAppointmentList(AppContext& context, QMdiArea* area, const AppointmentListView& view);
