// libFuzzer target of the extract library: the input is an archive, listed,
// tested and extracted into a scratch directory with a password, every
// question answered yes. Nothing may crash, hang or write outside it.
#include "platform/zipeng/ZipEngAbi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

int32_t Answer(zipeng::CallbackRecord* r)
{
    if (r->action == zipeng::actOverwrite)
        r->value2 = 1;
    if (r->action == zipeng::actPassword) {
        std::strcpy(r->text, "pw");
        r->value1 = 1;
    }
    if (r->action == zipeng::actCrcError)
        r->value1 = 1;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/fuzz-unzip-XXXXXX";
        static std::string made = mkdtemp(tmpl) ? tmpl : "/tmp";
        std::atexit([] {
            std::error_code ec;
            if (made != "/tmp")
                std::filesystem::remove_all(made, ec);
        });
        return made;
    }();
    const std::string archive = dir + "/in.zip", out = dir + "/out";
    FILE* f = std::fopen(archive.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (int test = 0; test < 2; ++test) {
        zipeng::UnzParams p{};
        p.callback = &Answer;
        p.password = "";
        p.test = test ? -1 : 0;
        p.dirNames = -1;
        p.overwrite = 0;
        p.archive = archive.c_str();
        p.passwordReqCount = 2;
        p.baseDir = out.c_str();
        p.check = zipeng::kBlockCheck;
        UnzEngExec(&p);
    }
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    return 0;
}
