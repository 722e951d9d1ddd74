#pragma once
// The application context: everything a screen reaches outside itself.
// The program builds one at start (ProgramContext()) and hands it to the
// main window, which hands it on to every screen it opens; a test builds
// its own over a temporary practice (tests/support/TempPractice.h).
//
// The shared variables of global.h (AppDir, DataPath, ...) stay where they
// are: the context holds only the services.
#include <QStringList>

#include <functional>

class QWidget;

namespace kdb {
class Database;
class Session;
}  // namespace kdb
namespace kui {
class MessageService;
}

struct AppContext {
    // The engine session whose private and network directories the start-up
    // sets.
    kdb::Session* session = nullptr;
    // The catalog of the practice database: the schema text of its tables,
    // which the table checker keeps the data directory in line with.
    QStringList schema;
    // The practice database: the tables of DataPath, the one every dataset
    // given DataPath reads through (kdb::Database::of).
    kdb::Database& PracticeDatabase() const;
    // The service every message box of the screens goes through; whoever
    // builds the context installs it (kui::SetMessageService). Null: the
    // dialog boxes.
    kui::MessageService* messages = nullptr;

    // The steps that reach outside the program. An empty step runs the
    // program's own code.
    // Runs the table check over the fresh DataPath (creates the tables).
    std::function<void()> checkDatabase;
    // Shows the login dialog; true when the user is logged in.
    std::function<bool()> login;
    // Writes the automatic backup when the program is closed.
    std::function<void()> autoBackup;
    // Asks for a picture file (the welcome picture, a patient's photo);
    // empty = cancelled. Empty step: the screen's own file dialog.
    std::function<QString(QWidget* parent)> choosePicture;
};

// The program's own context: the engine's one session, the schema compiled
// into the program, the dialog message service, no step replaced.
AppContext& ProgramContext();
