#pragma once
// Side-by-side timing for the benchmarks: the sides of a comparison run
// alternately, one run of each per round, so that whatever else the machine
// does at that moment weighs on every side alike.
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace kbench {

struct SideTime {
    double ms = 0;  // median of the rounds
    size_t rows = 0;  // what the side's last run returned
};

// Runs every side once to learn its cost, then in rounds: each round runs
// every side once, the first side first in even rounds and last in odd
// ones. Short statements get more rounds (about `budgetMs` in all, between
// `minRounds` and `maxRounds`). Returns each side's median.
inline std::vector<SideTime> interleavedMedians(
    const std::vector<std::function<size_t()>>& sides, int minRounds = 5, int maxRounds = 1001, double budgetMs = 100)
{
    using Clock = std::chrono::steady_clock;
    const size_t n = sides.size();
    std::vector<SideTime> out(n);
    std::vector<std::vector<double>> times(n);
    auto once = [&](size_t i) {
        const auto a = Clock::now();
        out[i].rows = sides[i]();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
        return ms;
    };
    double round = 0;
    for (size_t i = 0; i < n; ++i)
        round += once(i);
    const int rounds = round > 0 ? std::clamp(static_cast<int>(budgetMs / round), minRounds, maxRounds) : maxRounds;
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < n; ++k) {
            const size_t i = r % 2 == 0 ? k : n - 1 - k;
            times[i].push_back(once(i));
        }
    for (size_t i = 0; i < n; ++i) {
        std::sort(times[i].begin(), times[i].end());
        out[i].ms = times[i][times[i].size() / 2];
    }
    return out;
}

// Runs `work` from inside the application's event loop, as the program runs
// the statements of a screen (in the handler of an event), and answers what
// it answers once the loop has ended.
inline int insideEventLoop(QCoreApplication& app, const std::function<int()>& work)
{
    int result = 0;
    QTimer::singleShot(0, &app, [&] {
        result = work();
        app.exit(result);
    });
    app.exec();
    return result;
}

}  // namespace kbench
