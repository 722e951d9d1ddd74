#include "app/global/AppContext.h"

#include "platform/db/core/Session.h"
#include "resources/schema/SchemaText.h"

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
