// Stand-ins for the add library with a defect: too old (FAKE_VERSION), or
// without its job entry point (FAKE_NO_EXEC).
#include <cstdint>

extern "C" {
#ifndef FAKE_NO_EXEC
__attribute__((visibility("default"))) int32_t ZipEngExec(void*)
{
    return 0;
}
#endif
__attribute__((visibility("default"))) int32_t GetZipEngVersion()
{
    return FAKE_VERSION;
}
}
