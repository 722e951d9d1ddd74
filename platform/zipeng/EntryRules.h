#pragma once
// The rules by which every reader of an archive in the program judges an
// odd entry, alike: the archive libraries (test, extract, update), the zip
// component's directory reader, hence the restore, and the self-extracting
// program. An entry that breaks one is no slip of a writer the program can
// make good by guessing: the whole archive is refused before anything is
// written, with a French text that says why and names the entry. Nothing
// here but the standard library, for the self-extracting program stands
// alone.
#include <cstdint>
#include <set>
#include <string>

namespace zipeng {

// An entry as its central directory header gives it.
struct EntryFacts {
    uint16_t madeBy = 0;  // the host system in the high byte
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t externalAttrs = 0;
    uint64_t csize = 0, usize = 0;
    std::string name;  // the stored bytes
    std::string extra;  // the central extra field
};

// Why an entry is refused ("" when it is not): a name flagged UTF-8 that
// is not valid UTF-8 (it would be listed one way and written another); a
// folder entry that carries data; a device (or socket) entry of a Unix
// host; an extra field whose sub-fields run past its end.
std::string EntryRefusal(const EntryFacts& e);

// Why an entry whose local header names it otherwise than its central
// header is refused ("" when both give the same bytes).
std::string LocalNameRefusal(const std::string& centralName, const std::string& localName);

// The refusal of a central header whose name, extra field or comment run
// past the end of the central directory.
std::string PastDirectoryRefusal(const std::string& name);

// The names of one archive, each seen once: two entries of the same name
// (the separators "\" and "/" alike, a folder's last "/" left out) would
// write the same file twice, and which one is meant nobody knows.
class EntryNames {
public:
    // "" the first time a name comes, its refusal the next.
    std::string Add(const std::string& name);

private:
    std::set<std::string> seen_;
};

// Whether a text is valid UTF-8 (no overlong form, no surrogate, nothing
// past U+10FFFF).
bool IsUtf8(const std::string& s);

// A stored name as a message shows it: valid UTF-8 as it is, any other
// bytes taken as Latin-1.
std::string ShownName(const std::string& raw);

}  // namespace zipeng
