#pragma once
// Helpers shared by the tests of the database engine.
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/EngineTypes.h"

namespace kdbtest {

// The engine error code `f` throws, 0 when it throws none; its text in
// `message` when asked.
template <class F> int codeOf(F&& f, std::string* message = nullptr)
{
    try {
        f();
    } catch (const EDBEngineError& e) {
        if (message)
            *message = e.what();
        return e.code();
    }
    return 0;
}

// A field of a table description, to add.
inline kdb::FieldDesc fieldDesc(
    const char* name, uint16_t type, int16_t width, int16_t decimals = 0, uint16_t subType = 0)
{
    return {
        .name = name, .type = type, .subType = subType, .units1 = width, .units2 = decimals, .restructOp = kdb::crADD};
}

// Runs `work` in a child process (another program at the same files): its
// exit status, 1 when it raised anything, -1 when it did not end normally.
inline int inOtherProcess(const std::function<void()>& work)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        try {
            work();
            _exit(0);
        } catch (...) {
            _exit(1);
        }
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace kdbtest
