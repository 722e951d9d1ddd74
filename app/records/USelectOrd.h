#pragma once
// The choice of a prescription to print for the current patient: the
// stored prescriptions one at a time with their lines, a search by number,
// the date of issue; Imprimer (also Enter and Esc) previews the A5 sheet.
// A number searched that matches no prescription prints nothing: the
// message names it.
#include <QDialog>

class QDateEdit;
class QLineEdit;
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
class TfrmSelectOrd;
}

class TfrmSelectOrd : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelectOrd(AppContext& context, QWidget* parent = nullptr);
    ~TfrmSelectOrd() override;

    QLineEdit* edCode() const;
    QLineEdit* edNum() const;
    QDateEdit* edDate() const;
    kui::DataGrid* grdDetail() const;
    QToolButton* btnOrd() const;
    QPushButton* btnPrint() const;
    QPushButton* btnClose() const;
    kdb::QueryDataset* qOrd() const { return qOrd_; }
    kdb::QueryDataset* qMedic() const { return qMedic_; }

public slots:
    void btnPrintClick();
    void btnOrdClick();
    void edNumChange(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void qOrdAfterScroll();
    void ReopenOrd(const QString& code);

    AppContext& context_;
    Ui::TfrmSelectOrd* ui;
    kdb::QueryDataset* qOrd_;
    kdb::QueryDataset* qMedic_;
    // The number searched that no prescription begins with: printing then
    // prints nothing and says so, until another prescription is shown.
    QString unmatched_;
};
