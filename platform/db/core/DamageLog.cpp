#include "platform/db/core/DamageLog.h"

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

std::string keepDamagedFiles(const std::string& tablePath, const std::vector<std::string>& files)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(tablePath).parent_path();
    const std::string day = now("%Y-%m-%d");
    fs::path target;
    for (int n = 1;; ++n) {
        target = dir / "Damaged" / (n == 1 ? day : day + "-" + std::to_string(n));
        bool taken = false;
        for (const std::string& f : files)
            taken = taken || fs::exists(target / fs::path(f).filename());
        if (!taken)
            break;
    }
    std::error_code ec;
    makeSharedDirectories(dir, target, ec);
    for (const std::string& f : files)
        if (!ec) {
            fs::copy_file(f, target / fs::path(f).filename(), fs::copy_options::overwrite_existing, ec);
            if (!ec)
                shareAsDirectory(dir, target / fs::path(f).filename(), false);
        }
    if (ec)
        throw EDBEngineError::writeFailed(target.string(), ec.value(), "cannot keep a copy of the damaged table");
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
