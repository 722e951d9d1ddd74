#pragma once
#include <QImage>
#include <QMainWindow>

#include <exception>

class QLabel;
class QMdiArea;
class QStatusBar;
class TDcLabel;
class TDbCheck;
class TStartup;
struct AppContext;

#include <memory>

namespace kdb {
class Table;
}

namespace Ui {
class TfrmMain;
}

// The program's main window: the MDI parent from which every screen is
// opened. Its creation runs the start-up sequence of the program.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // The window is built on the application context (the screens it opens
    // get the same one); its creation runs the start-up sequence (TStartup).
    explicit TfrmMain(AppContext& context, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // True when the start-up sequence asked for the end of the program (a
    // refused login or an abandoned start-up): the caller must not run it.
    bool TerminateRequested() const { return terminateRequested_; }
    // True when the creation sequence ran to its last step.
    bool CreationCompleted() const { return creationCompleted_; }

    QMdiArea* ClientArea() const;
    QStatusBar* StatusBar() const;
    QString StatusPanelText(int index) const;
    TDcLabel* UserLabel() const;
    // The picture tiled behind the MDI children.
    const QImage& BackgroundPicture() const { return backGround_; }

    // The function keys of the main window (F5, F6): true when handled.
    bool FormShortCut(int key);

public slots:
    void btnPatientClick();
    void btnConsulClick();
    void mnPhotoClick();
    void mnExRadioClick();
    void mnExBioClick();
    void mnOrdonnancesClick();
    void mnRDVClick();
    void mnProtocoleClick();
    void mnParametresClick();
    void mnSaveRestoreClick();
    void Restaurer1Click();
    void mnEpurationClick();
    void mnReindexationClick();
    void mnCheckDBClick();
    void mnChangePasswordClick();
    void mnImprimerClick();
    void mnAideClick();
    void Apropos1Click();
    void Configurationdelimprimante1Click();
    void mnChangerImageClick();
    void mnRestaurerImageClick();
    void mnQuitterClick();
    void btnFermerClick();

public:
    // The table checker with the schema of the practice database.
    TDbCheck* DbCheckData = nullptr;

    // Packs an open table: a dBASE table through the engine (with index
    // regeneration, the table stays open), a Paradox table by a
    // restructuring with the pack flag (the table is closed).
    // A table that is not open (null) or not open exclusively raises
    // EDatabaseError; engine failures raise EDBEngineError.
    void PackTable(std::unique_ptr<kdb::Table>& table);

    // Table checker events: every proposed change is accepted; engine
    // errors are shown as "[Error] %s".
    void DbCheckDataFoundDiff(int message, const QString& tableName, bool& correct);
    void DbCheckDataError(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TStartup;

    void FormCreate();
    void FormShow();
    void FormDestroy();
    void SetBackground(const QImage& picture);
    void AutoBackup();
    void RunCalculator();
    bool ShowCalendar();
    void RequestTerminate();
    // Runs the table check, then reindexes (reindex true) or packs every
    // table of the schema.
    void MaintainDatabase(bool reindex);
    QString WalkFailureText(bool reindex, int treated, const std::exception_ptr& failure) const;

    AppContext& context_;
    Ui::TfrmMain* ui;
    QLabel* statusPanels_[4] = {};
    QImage backGround_;
    bool terminateRequested_ = false;
    bool creationCompleted_ = false;
};

// The one main window of the program (null before it exists).
extern TfrmMain* frmMain;
