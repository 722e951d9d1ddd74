// Two pieces of one call run at the same time, and the call ends with both.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/SideBySide.h"

using namespace kdb;

namespace {

// Two pieces that each wait (a second at most) for the other to have begun:
// answers how many saw the other one under way.
int meetings()
{
    std::mutex m;
    std::condition_variable cv;
    int begun = 0, met = 0;
    auto piece = [&] {
        std::unique_lock<std::mutex> g(m);
        ++begun;
        cv.notify_all();
        if (cv.wait_for(g, std::chrono::seconds(1), [&] { return begun == 2; }))
            ++met;
    };
    runSideBySide(piece, piece);
    return met;
}

}  // namespace

TEST(SideBySide, BothPiecesRunAtOnceAndAreOverWhenTheCallReturns)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(meetings(), 2);
}

TEST(SideBySide, AFailureOfEitherPieceIsRaisedOnceBothHaveEnded)
{
    bool hereEnded = false, thereEnded = false;
    try {
        runSideBySide([] { throw EDBEngineError::writeFailed("T.DBF", EIO, "cannot flush"); },
            [&] { hereEnded = true; });
        ADD_FAILURE() << "nothing raised";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), DBERR_WRITEERR);
        EXPECT_TRUE(hereEnded);
    }
    try {
        runSideBySide([&] { thereEnded = true; }, [] { throw std::runtime_error("here"); });
        ADD_FAILURE() << "nothing raised";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "here");
        EXPECT_TRUE(thereEnded);
    }
    // and the next call runs as before
    EXPECT_EQ(meetings(), 2);
}

// A program made by fork() after the helper started has no thread of its
// parent: its calls still run both pieces at once.
TEST(SideBySide, AChildOfTheProgramRunsBothPiecesToo)
{
    EXPECT_EQ(meetings(), 2);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(meetings() == 2 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
