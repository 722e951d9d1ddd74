#pragma once
#include <QImage>
#include <QMainWindow>

#include <exception>
#include <functional>

class QLabel;
class QMdiArea;
class QStatusBar;
class TDcLabel;
class TDbCheck;

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
    // Replacements of the steps that reach outside this window, for tests:
    // a step left empty runs the program's own code. Set them before the
    // window is created.
    struct Bindings {
        // Runs the table check over the fresh DataPath (creates the tables).
        std::function<void()> checkDatabase;
        // Points the engine session's private and network directories.
        std::function<void(const QString& privateDir, const QString& netDir)> sessionDirectories;
        // Shows the login dialog; true when the user is logged in.
        std::function<bool()> login;
        // Writes the automatic backup when the program is closed.
        std::function<void()> autoBackup;
        // Asks for a picture file for the welcome picture; empty = cancelled.
        std::function<QString(QWidget* parent)> choosePicture;
    };
    static Bindings& Bind();

    explicit TfrmMain(QWidget* parent = nullptr);
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
    void FormCreate();
    void FormShow();
    void FormDestroy();
    // Creates the directory when missing; on failure shows the error box
    // and ends the sequence with the silent abort.
    void EnsureDir(const QString& dir, bool privateDir = false);
    void CreateDatabase();
    void CleanUpEngineFiles(bool emptyTempPath);
    void SetSessionDirectories();
    bool Login();
    void ReadPracticeSettings(QString& imageName);
    void LoadBackgroundPicture(const QString& imageName);
    void SetBackground(const QImage& picture);
    void ClearReadOnlyFlags(const QString& dir);
    void AutoBackup();
    void RunCalculator();
    bool ShowCalendar();
    void RequestTerminate();
    // Runs the table check, then reindexes (reindex true) or packs every
    // table of the schema.
    void MaintainDatabase(bool reindex);
    QString WalkFailureText(bool reindex, int treated, const std::exception_ptr& failure) const;

    Ui::TfrmMain* ui;
    QLabel* statusPanels_[4] = {};
    QImage backGround_;
    bool terminateRequested_ = false;
    bool creationCompleted_ = false;
};

// The one main window of the program (null before it exists).
extern TfrmMain* frmMain;
