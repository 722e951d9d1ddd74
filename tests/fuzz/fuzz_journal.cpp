// Fuzz target: the reader of a restore's journal, then the writer and the
// reader again on what was read. The damaged journals it finds go to
// tests/backup/journal-corpus.
#include "app/backup/RestoreJournal.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<backup::RestoreSet> sets;
    if (!backup::ParseJournal(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), sets))
        return sets.empty() ? 0 : (std::abort(), 0);
    std::vector<backup::RestoreSet> again;
    if (!backup::ParseJournal(backup::JournalText(sets), again) || again.size() != sets.size())
        std::abort();
    for (size_t i = 0; i < sets.size(); ++i)
        if (again[i].live != sets[i].live || again[i].oldNames != sets[i].oldNames ||
            again[i].newNames != sets[i].newNames || again[i].ino != sets[i].ino)
            std::abort();
    return 0;
}
