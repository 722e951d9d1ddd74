#pragma once
// Helpers shared by the tests of the database engine.
#include <string>

#include "platform/db/core/DbError.h"

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

}  // namespace kdbtest
