#include "app/global/AppContext.h"

#include "app/global/global.h"
#include "platform/db/core/Session.h"
#include "platform/db/database/Database.h"
#include "resources/schema/SchemaText.h"

kdb::Database& AppContext::PracticeDatabase() const
{
    return kdb::Database::of(DataPath.toStdString());
}

AppContext& ProgramContext()
{
    static AppContext context = [] {
        AppContext c;
        c.session = &kdb::Session::instance();
        c.schema = SchemaText();
        return c;
    }();
    return context;
}
