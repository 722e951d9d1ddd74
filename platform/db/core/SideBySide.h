#pragma once
// Two pieces of one call run at the same time: the waits of a flush (two
// files forced to the disk) side by side instead of one after the other.
//
// `there` runs on the engine's helper thread while `here` runs on the
// caller's; the call returns when both have ended, so nothing of the engine
// runs on another thread once it has returned. An exception of either is
// raised here once both have ended (`here`'s first). `there` touches only
// what `here` leaves alone (another file, its own descriptor).
//
// Without the helper (it cannot be started, it is at work for another call
// of another thread, or this is a child made by fork() since it started)
// `there` runs first and `here` after it, on the caller's thread.
#include <functional>

namespace kdb {

void runSideBySide(const std::function<void()>& there, const std::function<void()>& here);

}  // namespace kdb
