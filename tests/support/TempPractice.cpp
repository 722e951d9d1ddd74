#include "tests/support/TempPractice.h"

#include "app/global/global.h"
#include "checker/DbCheck.h"
#include "platform/db/core/Session.h"
#include "platform/os/Paths.h"
#include "resources/schema/SchemaText.h"
#include "tests/support/TestApplication.h"

#include <QDir>

#include <stdexcept>

TempPractice::TempPractice(Layout layout)
{
    TestApplication();
    if (!root_.isValid())
        throw std::runtime_error("no temporary directory");
    homeEnv_ = std::make_unique<ScopedEnv>("KORVALE_HOME", home());
    configEnv_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", root() + "/config");
    // A private system temporary directory: test programs running side by
    // side must not empty each other's work directory.
    QDir().mkpath(root() + "/tmp");
    tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", root() + "/tmp");

    context_.session = &kdb::Session::instance();
    context_.schema = SchemaText();
    context_.messages = &messages_;
    context_.login = [] { return true; };
    context_.choosePicture = [](QWidget*) { return QString(); };

    AppVersion = QStringLiteral("Korvale 3.1");
    if (layout == Layout::Empty)
        return;
    IniDir = kos::ConfigHomeDir();
    AppDir = kos::ProgramHomeDir();
    DataPath = AppDir + "Data/";
    ProtDir = AppDir + "PROT/";
    PhotoDir = AppDir + "PHOTOS/";
    TempPath = kos::ProcessTempDir();
    for (const QString& dir : {IniDir, DataPath, ProtDir, PhotoDir, TempPath})
        QDir().mkpath(dir);
}

TempPractice::~TempPractice()
{
    for (QString* variable : {&IniDir, &AppDir, &DataPath, &ProtDir, &PhotoDir, &TempPath})
        variable->clear();
}

void TempPractice::CreateTables()
{
    TDbCheck check(nullptr);
    check.Descriptor = context_.schema;
    check.CorrectPath = DataPath;
    std::string failure;
    check.OnError = [&](QObject*, const EDBEngineError& error) {
        if (failure.empty())
            failure = error.what();
    };
    check.CheckDatabase();
    if (!failure.empty())
        throw std::runtime_error(failure);
}
