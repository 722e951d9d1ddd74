#include "platform/db/core/SideBySide.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace kdb {

namespace {

// The helper thread: waits for one piece of work at a time. It lives as long
// as the process (made on first use, never destroyed: it may still wait when
// the program ends).
class Helper {
public:
    Helper() { std::thread([this] { serve(); }).detach(); }

    // Hands the work over; false when the helper is busy.
    bool start(const std::function<void()>& work)
    {
        std::lock_guard<std::mutex> g(m_);
        if (work_ || !collected_)
            return false;
        work_ = &work;
        collected_ = false;
        error_ = nullptr;
        cv_.notify_all();
        return true;
    }
    // Waits for the work handed over; answers its exception (or none).
    std::exception_ptr wait()
    {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return ended_; });
        ended_ = false;
        collected_ = true;
        return error_;
    }

private:
    void serve()
    {
        std::unique_lock<std::mutex> g(m_);
        for (;;) {
            cv_.wait(g, [&] { return work_ != nullptr; });
            const std::function<void()>* work = work_;
            g.unlock();
            std::exception_ptr error;
            try {
                (*work)();
            } catch (...) {
                error = std::current_exception();
            }
            g.lock();
            work_ = nullptr;
            error_ = error;
            ended_ = true;
            cv_.notify_all();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    const std::function<void()>* work_ = nullptr;
    std::exception_ptr error_;
    bool ended_ = false;
    bool collected_ = true;
};

// The helper of this process, made on first use; nullptr when none can be
// started. A child made by fork() has no thread of its parent: it makes one
// of its own when it needs it.
std::mutex& helperMutex()
{
    static std::mutex* m = new std::mutex;  // used until the process ends
    return *m;
}
Helper* current = nullptr;  // under helperMutex()

Helper* helper()
{
    static const bool forgottenInChild = [] {
        ::pthread_atfork([] { helperMutex().lock(); }, [] { helperMutex().unlock(); },
            [] {
                current = nullptr;
                helperMutex().unlock();
            });
        return true;
    }();
    (void)forgottenInChild;
    std::lock_guard<std::mutex> g(helperMutex());
    if (!current) {
        try {
            current = new Helper;  // kept for the life of the process
        } catch (const std::system_error&) {
            return nullptr;
        }
    }
    return current;
}

}  // namespace

void runSideBySide(const std::function<void()>& there, const std::function<void()>& here)
{
    Helper* h = helper();
    const bool beside = h && h->start(there);
    std::exception_ptr theirs;
    if (!beside) {
        try {
            there();
        } catch (...) {
            theirs = std::current_exception();
        }
    }
    std::exception_ptr mine;
    try {
        here();
    } catch (...) {
        mine = std::current_exception();
    }
    if (beside)
        theirs = h->wait();
    if (mine)
        std::rethrow_exception(mine);
    if (theirs)
        std::rethrow_exception(theirs);
}

}  // namespace kdb
