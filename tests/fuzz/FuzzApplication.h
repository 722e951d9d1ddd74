#pragma once
// The application object a fuzz target needs, made once on the offscreen
// platform.
#include <QtGlobal>

template <typename App> void EnsureFuzzApplication(const char* name)
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static App* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new App(argc, argv);
    }();
    (void)app;
}
