#pragma once
#include "platform/ui/Application.h"

// The one application object of a test program, created on first use.
inline kui::TApplication* TestApplication()
{
    static int argc = 1;
    static char name[] = "korvale-test";
    static char* argv[] = {name, nullptr};
    static auto* app = new kui::TApplication(argc, argv);
    return app;
}
