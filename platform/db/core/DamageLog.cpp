#include "platform/db/core/DamageLog.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/File.h"

namespace kdb {

namespace {
std::string now(const char* format)
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

std::string damagedDir(const std::string& directory)
{
    return (std::filesystem::path(directory.empty() ? "." : directory) / "Damaged").string();
}

constexpr int kLogLockMs = 5000;

// A log past its bound keeps its newest lines, half the bound of them
// (written at its start, then cut: a stop in between leaves the newest
// lines followed by older ones, nothing newer lost). Under the log's lock.
void keepLogWithinBound(File& log)
{
    const uint64_t size = log.size();
    if (size <= static_cast<uint64_t>(kDamageLogMaxBytes))
        return;
    const uint64_t keep = static_cast<uint64_t>(kDamageLogMaxBytes) / 2;
    std::string tail(static_cast<size_t>(keep), '\0');
    tail.resize(log.readAt(size - keep, tail.data(), tail.size()));
    const size_t line = tail.find('\n');
    tail.erase(0, line == std::string::npos ? 0 : line + 1);
    log.writeAt(0, tail.data(), tail.size());
    log.truncate(tail.size());
    log.sync();
}

// What the repairs leave in the data directory is shared as the directory
// is: a folder gets its mode (a group-shared directory's group rights and
// setgid bit), a file its read and write rights, so that the repairs of
// every workstation of the group are logged and kept alike.
void shareAsDirectory(const std::filesystem::path& dataDir, const std::filesystem::path& made, bool isDir)
{
    struct stat st {};
    if (::stat((dataDir.empty() ? std::filesystem::path(".") : dataDir).c_str(), &st) != 0)
        return;
    ::chmod(made.c_str(), isDir ? (st.st_mode & 07777) : (st.st_mode & 0666));
}

// Creates `dir` (and its missing parents below `dataDir`) shared as
// `dataDir` is.
void makeSharedDirectories(const std::filesystem::path& dataDir, const std::filesystem::path& dir, std::error_code& ec)
{
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path p = dir; !p.empty() && p != dataDir && !std::filesystem::exists(p); p = p.parent_path())
        missing.push_back(p);
    std::filesystem::create_directories(dir, ec);
    if (!ec)
        for (const auto& p : missing)
            shareAsDirectory(dataDir, p, true);
}

// Creates the file empty when missing, shared as `dataDir` is.
void makeSharedFile(const std::filesystem::path& dataDir, const std::string& path)
{
    if (std::filesystem::exists(path))
        return;
    std::ofstream(path, std::ios::app).close();
    shareAsDirectory(dataDir, path, false);
}
}  // namespace

std::string keepDamagedCopy(const std::string& tablePath)
{
    namespace fs = std::filesystem;
    const fs::path table(tablePath);
    const fs::path dir = table.parent_path();
    const std::string base = table.stem().string();
    std::vector<std::string> files{tablePath};
    for (const char* ext : {".DBT", ".MDX"}) {
        bool exists = false;
        const std::string p = findFileNoCase(dir.empty() ? "." : dir.string(), base + ext, exists);
        if (exists)
            files.push_back(p);
    }
    return keepDamagedFiles(tablePath, files);
}

namespace {

// A copy folder's place among the others: "<yyyy-MM-dd>" is the first of
// its day, "<yyyy-MM-dd>-<n>" the n-th; "" for a name of another kind.
std::string copyOrder(const std::string& name)
{
    if (name.size() < 10 || name[4] != '-' || name[7] != '-')
        return {};
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return {};
    std::string n = "1";
    if (name.size() > 10) {
        if (name[10] != '-' || name.size() == 11 || name.size() > 20)
            return {};
        n = name.substr(11);
        for (char c : n)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return {};
    }
    return name.substr(0, 10) + std::string(10 - n.size(), '0') + n;
}

std::string upperStem(const std::filesystem::path& p)
{
    std::string s = p.stem().string();
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Only the last kDamagedCopiesKept copies of the table stay: the files of
// the table in older copy folders go, and a folder left empty with them.
void pruneCopies(const std::filesystem::path& damaged, const std::string& tablePath)
{
    namespace fs = std::filesystem;
    const std::string stem = upperStem(tablePath);
    std::error_code ec;
    std::vector<std::pair<std::string, fs::path>> copies;  // order, folder
    for (fs::directory_iterator it(damaged, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (!it->is_directory(e2))
            continue;
        const std::string order = copyOrder(it->path().filename().string());
        if (order.empty())
            continue;
        bool holds = false;
        for (fs::directory_iterator f(it->path(), e2), fend; !e2 && f != fend && !holds; f.increment(e2))
            holds = upperStem(f->path()) == stem;
        if (holds)
            copies.emplace_back(order, it->path());
    }
    if (copies.size() <= static_cast<size_t>(kDamagedCopiesKept))
        return;
    std::sort(copies.begin(), copies.end());
    for (size_t i = 0; i + kDamagedCopiesKept < copies.size(); ++i) {
        std::vector<fs::path> gone;
        for (fs::directory_iterator f(copies[i].second, ec), fend; !ec && f != fend; f.increment(ec))
            if (upperStem(f->path()) == stem)
                gone.push_back(f->path());
        for (const fs::path& g : gone)
            fs::remove(g, ec);
        fs::remove(copies[i].second, ec);  // only when empty
    }
}

}  // namespace

std::string keepDamagedFiles(const std::string& tablePath, const std::vector<std::string>& files)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(tablePath).parent_path();
    const fs::path damaged = dir / "Damaged";
    const std::string day = now("%Y-%m-%d");
    // The last copy folder of the day, or a new one after it when it holds
    // these files already.
    int last = 0;
    std::error_code ec;
    for (fs::directory_iterator it(damaged, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string order = copyOrder(it->path().filename().string());
        if (!order.empty() && order.compare(0, 10, day) == 0)
            last = std::max(last, std::stoi(order.substr(10)));
    }
    auto folder = [&](int n) { return damaged / (n == 1 ? day : day + "-" + std::to_string(n)); };
    int n = std::max(last, 1);
    for (const std::string& f : files)
        if (fs::exists(folder(n) / fs::path(f).filename(), ec))
            n = last + 1;
    const fs::path target = folder(n);
    ec.clear();
    makeSharedDirectories(dir, target, ec);
    for (const std::string& f : files)
        if (!ec) {
            fs::copy_file(f, target / fs::path(f).filename(), fs::copy_options::overwrite_existing, ec);
            if (!ec)
                shareAsDirectory(dir, target / fs::path(f).filename(), false);
        }
    if (ec)
        throw EDBEngineError::writeFailed(target.string(), ec.value(), "cannot keep a copy of the damaged table");
    pruneCopies(damaged, tablePath);
    return target.string();
}

std::string damageLogPath(const std::string& directory)
{
    return (std::filesystem::path(damagedDir(directory)) / "repairs.log").string();
}

bool logDamage(const std::string& tablePath, const std::string& text)
{
    try {
        const std::filesystem::path table(tablePath);
        const std::string dir = table.parent_path().string();
        std::error_code ec;
        makeSharedDirectories(table.parent_path(), damagedDir(dir), ec);
        const std::string path = damageLogPath(dir);
        // Made by the first line, never truncated here.
        makeSharedFile(table.parent_path(), path);
        File log = File::open(path, File::Mode::ReadWrite);
        if (!log.lockWait(0, 1, true, kLogLockMs))
            return false;
        std::string line = now("%Y-%m-%d %H:%M:%S") + " " + table.filename().string() + " : " + text;
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        line.push_back('\n');
        log.writeAt(log.size(), line.data(), line.size());
        log.sync();
        keepLogWithinBound(log);
        log.unlock(0, 1);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> takeDamageLog(const std::string& directory)
{
    std::vector<std::string> lines;
    std::string text;
    try {
        const std::string path = damageLogPath(directory);
        File log = File::tryOpen(path, File::Mode::ReadWrite);
        if (!log.isOpen() || !log.lockWait(0, 1, true, kLogLockMs))
            return lines;
        text.assign(static_cast<size_t>(log.size()), '\0');
        text.resize(text.empty() ? 0 : log.readAt(0, text.data(), text.size()));
        if (!text.empty()) {
            // Kept with the lines shown before, then the log starts again
            // (a log that cannot be moved is shown again next time).
            const std::string shownPath = damagedDir(directory) + "/repairs-shown.log";
            makeSharedFile(directory, shownPath);
            File shown = File::open(shownPath, File::Mode::ReadWrite);
            shown.writeAt(shown.size(), text.data(), text.size());
            shown.sync();
            keepLogWithinBound(shown);
            log.truncate(0);
            log.sync();
        }
        log.unlock(0, 1);
    } catch (const std::exception&) {
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace kdb
