#include "UMain.h"
#include "USplash.h"

#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "app/global/NextCodeDb.h"
#include "platform/ui/Application.h"
#include "platform/ui/Formats.h"

int main(int argc, char* argv[])
{
    kui::InstallProcessFormats();

    kui::TApplication app(argc, argv);
    app.LoadFrenchTranslations();
    AppVersion = QStringLiteral("Korvale 3.1");
    InstallDatabaseKeyColumns();

    TfrmSplash::ShowDuring(1500);
    QCoreApplication::processEvents();

    kui::TApplication::SetTitle(QStringLiteral("Suivi des patients"));

    TfrmMain mainWindow(ProgramContext());
    if (mainWindow.TerminateRequested())
        return 0;
    mainWindow.show();
    return app.exec();
}
