#pragma once
// The preview window of every printed document, and the one place a
// document is printed from. A report form's preview handler
// (ReportCommon.h, ShowPreview) creates it, sets Report, hands it the page
// store and shows it, not modal; it fills in while the pages are built,
// then pages, zooms and prints. Closing it lets the page store go, which
// ends the report's preview request, and frees the window.
#include <QWidget>

#include <functional>

class QPrintDialog;
class QSpinBox;
class QComboBox;
class QToolButton;
class QPushButton;
class QStatusBar;
struct AppContext;

namespace krpt {
class Report;
class PageStore;
class PreviewView;
}  // namespace krpt

namespace Ui {
class TfrmPreview;
}

class TfrmPreview : public QWidget {
    Q_OBJECT
public:
    // `owner`: the modal dialog open at the time, if any (a window of its
    // own, kept usable beside that dialog).
    explicit TfrmPreview(AppContext& context, QWidget* owner = nullptr);
    ~TfrmPreview() override;

    // The report previewed; printing writes the user's choices into its
    // printer settings.
    krpt::Report* Report = nullptr;

    // Runs the print dialog; true when the user confirmed. Replaced by the
    // tests, which set the dialog's printer, range and copies as a user does.
    static std::function<bool(QPrintDialog&)> RunPrintDialog;

    krpt::PreviewView* RptPreview() const;
    QSpinBox* sePage() const;
    QSpinBox* SpinEditCopies() const;
    QComboBox* cmbZoom() const;
    QToolButton* sbFirstPage() const;
    QToolButton* sbPreviousPage() const;
    QToolButton* sbNextPage() const;
    QToolButton* sbLastPage() const;
    QPushButton* Print() const;
    QWidget* ToolBar() const;
    QStatusBar* stBar() const;
    // The texts of the two status panels.
    QString StatusText(int panel) const;

public slots:
    void RptPreviewPageAvailable(int n);
    void UpdateNavigation();
    void sbFirstPageClick();
    void sbPreviousPageClick();
    void sbNextPageClick();
    void sbLastPageClick();
    void sePageChange(int value);
    void cmbZoomChange();
    void PrintClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    // F10 prints; true when handled.
    bool FormShortCut(int key);
    void FormClose();
    void ShowPage(int page);
    int PageCount() const;

    AppContext& context_;
    Ui::TfrmPreview* ui;
    class QLabel* panel0_;
    class QLabel* panel1_;
};

// The preview window opened last, null when none is open.
extern TfrmPreview* frmPreview;
