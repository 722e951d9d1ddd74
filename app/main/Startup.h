#pragma once
// The start-up sequence of the program: what the creation of the main
// window runs, one named step per stage, in the order they run. A step that
// cannot create its directory shows "Impossible de créer le répertoire : "
// and abandons the rest; a refused login lets the remaining steps run and
// then ends the program.
#include <QString>

struct AppContext;
class TfrmMain;

class TStartup {
public:
    TStartup(AppContext& context, TfrmMain& window);

    // Runs every step in order. An exception ends the sequence: its message
    // goes to the application's handler, and a sequence abandoned before the
    // login ends the program.
    void Run();

    // The steps, in order.
    void ReadDisplaySetting();  // IniDir and DISPLAYRDV
    void FindProgramDirectory();  // AppDir, with the files shipped with the program
    void OpenDataDirectory();  // DataPath; a fresh one gets its tables
    void EnsureWorkDirectories();  // ProtDir, PhotoDir, TempPath
    void CleanUpEngineLeftovers();  // the engine's temporary and lock files, a stopped restore
    void SetSessionDirectories();  // the engine session's private and network directories
    void ShowPractitioner();  // PractitionerName, SpecialityLine, the banner
    void Login();  // the login dialog
    void ReadPracticeSettings();  // IMAGE and the practice details
    void ShowCaptionAndStatus();  // caption, date and version in the status bar
    void LoadWelcomePicture();  // the IMAGE picture, or the built-in one
    void ClearReadOnlyFlags();  // files of AppDir and DataPath made writable
    void Maximise();

    // Runs the table check over a freshly created DataPath, then says so.
    void CreateDatabase();

    bool LoggedIn() const { return loggedIn_; }

private:
    // Creates the directory when missing; on failure shows the error box
    // and ends the sequence with the silent abort.
    void EnsureDir(const QString& dir, bool privateDir = false);

    AppContext& context_;
    TfrmMain& window_;
    QString imageName_;
    bool loggedIn_ = false;
};

// Deletes the engine's temporary and lock files of the program and data
// directories and of IniDir, and, when emptyTempPath, every file of
// TempPath. Failures are ignored. Run at start-up and at close.
void CleanUpEngineFiles(bool emptyTempPath);
