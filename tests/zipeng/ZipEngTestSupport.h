#pragma once
// Drives the two archive libraries directly through their blocks and
// records every callback.
#include "platform/zipeng/ZipEngAbi.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Calls {
    std::vector<zipeng::CallbackRecord> records;
    std::function<void(zipeng::CallbackRecord&)> answer;
    bool cancelAtProgress = false;
    static int32_t Callback(zipeng::CallbackRecord* r)
    {
        auto* self = static_cast<Calls*>(r->caller);
        if (self->answer)
            self->answer(*r);
        self->records.push_back(*r);
        return self->cancelAtProgress && r->action == zipeng::actProgress ? -1 : 0;
    }
    int Count(int action) const
    {
        int n = 0;
        for (const auto& r : records)
            n += r.action == action;
        return n;
    }
    std::string Messages() const
    {
        std::string s;
        for (const auto& r : records)
            if (r.action == zipeng::actMessage)
                s += std::string(r.text) + "\n";
        return s;
    }
};

struct AddRequest {
    std::string archive{};
    std::vector<std::string> fileSpecs{};
    std::string root{}, password{};
    std::vector<std::string> excl{};
    std::string fromDate{};  // "mm dd yy", empty for none
    bool hidden = false;
    int level = 9;
    bool encrypt = false, recurse = true, junk = false, update = false, freshen = false, move = false, trash = false;
};

inline int32_t RunAdd(const AddRequest& q, Calls& calls)
{
    zipeng::ZipParams p{};
    p.caller = &calls;
    p.callback = &Calls::Callback;
    p.version = zipeng::kVersion;
    p.password = q.password.empty() ? nullptr : q.password.c_str();
    p.storeSuffixes = ".gif:.png:.zip:.jar";
    p.encrypt = q.encrypt ? -1 : 0;
    p.noDirEntries = -1;
    p.level = q.level;
    p.junkDirs = q.junk ? -1 : 0;
    p.recurse = q.recurse ? 0xFFFF : 0;
    p.update = q.update ? -1 : 0;
    p.freshen = q.freshen ? -1 : 0;
    p.move = q.move ? -1 : 0;
    p.howToDelete = q.trash ? -1 : 0;
    std::vector<zipeng::ZipFileSpec> fileSpecs(q.fileSpecs.size());
    for (size_t i = 0; i < fileSpecs.size(); ++i) {
        fileSpecs[i] = {};
        fileSpecs[i].fileSpec = q.fileSpecs[i].c_str();
        fileSpecs[i].encrypt = p.encrypt;
        fileSpecs[i].recurse = p.recurse;
        fileSpecs[i].rootDir = q.root.empty() ? nullptr : q.root.c_str();
    }
    p.fileSpecs = fileSpecs.data();
    p.specCount = int32_t(fileSpecs.size());
    p.archive = q.archive.c_str();
    std::vector<const char*> excl;
    for (const auto& e : q.excl)
        excl.push_back(e.c_str());
    p.excl = excl.empty() ? nullptr : excl.data();
    p.exclCount = int32_t(excl.size());
    p.hiddenFiles = q.hidden ? -1 : 0;
    if (!q.fromDate.empty()) {
        p.fromDate = -1;
        std::memcpy(p.date, q.fromDate.data(), 8);
    }
    p.check = zipeng::kBlockCheck;
    return ZipEngExec(&p);
}

struct ExtractRequest {
    std::string archive{}, baseDir{}, password{};
    std::vector<std::string> fileSpecs{};
    bool dirNames = true, overwrite = true, test = false, update = false, freshen = false;
    int passwordReqCount = 1;
};

inline int32_t RunExtract(const ExtractRequest& q, Calls& calls)
{
    zipeng::UnzParams p{};
    p.caller = &calls;
    p.callback = &Calls::Callback;
    p.version = zipeng::kVersion;
    p.password = q.password.c_str();
    p.test = q.test ? -1 : 0;
    p.always40 = -1;
    p.update = q.update ? -1 : 0;
    p.freshen = q.freshen ? -1 : 0;
    p.dirNames = q.dirNames ? -1 : 0;
    p.overwrite = q.overwrite ? -1 : 0;
    std::vector<zipeng::UnzFileSpec> fileSpecs(q.fileSpecs.size());
    for (size_t i = 0; i < fileSpecs.size(); ++i) {
        fileSpecs[i] = {};
        fileSpecs[i].fileSpec = q.fileSpecs[i].c_str();
    }
    p.fileSpecs = fileSpecs.empty() ? nullptr : fileSpecs.data();
    p.specCount = int32_t(fileSpecs.size());
    p.archive = q.archive.c_str();
    p.passwordReqCount = q.passwordReqCount;
    p.baseDir = q.baseDir.empty() ? nullptr : q.baseDir.c_str();
    p.check = zipeng::kBlockCheck;
    return UnzEngExec(&p);
}

inline void WriteFile(const fs::path& p, const std::string& data)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

inline std::string ReadFile(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Text that compresses like a table: repeated records with varying fields.
inline std::string TableLike(size_t n, unsigned seed)
{
    std::mt19937 g(seed);
    std::string s;
    static const char* words[] = {
        "DUPONT", "MARTIN", "Consultation ", "toux ", "fievre ", "RAS ", "Paracetamol 1g ", "  "};
    while (s.size() < n) {
        s += std::to_string(g() % 100000);
        s += words[g() % 8];
        s += words[g() % 8];
        s += char('A' + g() % 26);
    }
    s.resize(n);
    return s;
}

inline int Sh(const std::string& cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/kzipXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& s) const { return (path / s).string(); }
};
