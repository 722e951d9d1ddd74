// The self-extracting program (SfxStub.bin). The zip component copies it,
// writes a header record behind it and the archive behind that. At run time
// the program finds where its own ELF image ends, reads the record there and
// the archive after it, checks the whole archive, then asks on the terminal
// what the record's options ask for and extracts into the chosen directory.
// Nothing is written before the whole archive has been checked, and nothing
// outside the chosen directory (every path is opened relative to it, never
// through a symbolic link).
#include "platform/os/SystemError.h"
#include "zip/sfx/SfxReader.h"

#include <elf.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The program icon: one 32 x 32 image with 16 colours (40-byte bitmap
// header, 16-colour palette, 4-bit pixels, 1-bit mask: 744 bytes). The zip
// component replaces these bytes with the image of its SFXIcon; desktops do
// not show it, it travels with the program.
constexpr size_t kIconSize = 744;
constexpr std::array<unsigned char, kIconSize> MakeIcon()
{
    std::array<unsigned char, kIconSize> a{};
    auto put32 = [&a](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            a[at + size_t(i)] = static_cast<unsigned char>(v >> (8 * i));
    };
    put32(0, 40);  // header size
    put32(4, 32);  // width
    put32(8, 64);  // height: image and mask
    a[12] = 1;  // planes
    a[14] = 4;  // bits per pixel
    put32(20, 512 + 128);
    // palette: black, dark blue, white
    put32(40 + 4, 0x00800000);
    put32(40 + 15 * 4, 0x00FFFFFF);
    // pixels: a white box with a dark blue frame
    for (size_t y = 0; y < 32; ++y)
        for (size_t x = 0; x < 32; x += 2) {
            auto colour = [&](size_t px) -> unsigned char {
                if (y < 2 || y > 29 || px < 4 || px > 27)
                    return 0;
                if (y < 4 || y > 27 || px < 6 || px > 25)
                    return 1;
                return 15;
            };
            a[104 + y * 16 + x / 2] = static_cast<unsigned char>(colour(x) << 4 | colour(x + 1));
        }
    // mask: transparent outside the box
    for (size_t y = 0; y < 32; ++y)
        for (size_t x = 0; x < 32; ++x)
            if (y < 2 || y > 29 || x < 4 || x > 27)
                a[616 + y * 4 + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    return a;
}
__attribute__((section(".kicon"), used)) const std::array<unsigned char, kIconSize> kIcon = MakeIcon();

enum Exit { kOk = 0, kUsage = 1, kDamaged = 2, kCancelled = 3, kWriteError = 4, kCommandFailed = 5 };

struct Options {
    std::string dir;  // --dossier
    bool dirGiven = false;
    bool yes = false;  // --oui: every question takes its default answer, yes where it is a confirmation
    bool testOnly = false;  // --test
    std::string password;  // --mot-de-passe
    bool passwordGiven = false;
};

void Usage()
{
    std::cout << "Usage : programme [--dossier DOSSIER] [--oui] [--test]\n"
                 "  --dossier DOSSIER  extraire dans DOSSIER sans le demander\n"
                 "  --oui              ne rien demander : réponses par défaut, « oui » aux confirmations\n"
                 "  --test             vérifier l'archive sans rien extraire\n"
                 "  --mot-de-passe MOT mot de passe d'une archive chiffrée, sans le demander\n";
}

// One line from the terminal; false at the end of the input.
bool Ask(const std::string& question, std::string& answer)
{
    std::cout << question << std::flush;
    if (!std::getline(std::cin, answer)) {
        std::cout << '\n';
        return false;
    }
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    return true;
}

// A password from the terminal, not echoed when it is one.
bool AskPassword(const std::string& question, std::string& answer)
{
    termios saved{};
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::cout << question << std::flush;
    const bool got = bool(std::getline(std::cin, answer));
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cout << '\n';
    } else if (!got) {
        std::cout << '\n';
    }
    while (got && !answer.empty() && answer.back() == '\r')
        answer.pop_back();
    return got && !answer.empty();
}

// Gives every encrypted entry the password that opens it: one given on the
// command line or already found, else asked for (three times at most, never
// with --oui). The whole data of the entry is checked with it.
bool FindPasswords(const sfx::Source& src, std::vector<sfx::Entry>& entries, const Options& o)
{
    std::vector<std::string> known;
    if (o.passwordGiven)
        known.push_back(o.password);
    for (sfx::Entry& e : entries) {
        if (!e.encrypted || e.isDir)
            continue;
        bool found = false, tried = o.passwordGiven;
        for (const std::string& pw : known)
            if (sfx::PasswordFits(src, e, pw)) {
                e.password = pw;
                found = true;
                break;
            }
        for (int attempt = 0; !found && !o.yes && attempt < 3; ++attempt) {
            std::string pw;
            if (!AskPassword("Mot de passe de l'archive (« " + e.name + " ») : ", pw))
                break;
            tried = true;
            if (sfx::PasswordFits(src, e, pw)) {
                e.password = pw;
                known.push_back(pw);
                found = true;
            } else {
                std::cout << "Mot de passe erroné.\n";
            }
        }
        if (!found) {
            std::cerr << "Erreur : archive chiffrée, mot de passe " << (tried ? "erroné" : "absent") << " pour « "
                      << e.name << " » (il se donne aussi avec --mot-de-passe) : extraction refusée\n";
            return false;
        }
    }
    return true;
}

bool AskYesNo(const std::string& question, bool yesByDefault)
{
    std::string a;
    for (;;) {
        if (!Ask(question + (yesByDefault ? " (O/n) " : " (o/N) "), a))
            return false;
        if (a.empty())
            return yesByDefault;
        if (a == "o" || a == "O" || a == "oui")
            return true;
        if (a == "n" || a == "N" || a == "non")
            return false;
    }
}

// Where the program's ELF image ends: the furthest of the section header
// table, the sections and the segments.
uint64_t ImageLength(const sfx::Source& src)
{
    unsigned char id[EI_NIDENT];
    if (!src.Read(0, id, EI_NIDENT) || std::memcmp(id, ELFMAG, SELFMAG) != 0 || id[EI_DATA] != ELFDATA2LSB)
        throw sfx::SfxError("le programme ne se reconnaît pas (format ELF attendu)");
    uint64_t end = 0;
    auto walk = [&](auto ehdr, auto shdr, auto phdr) {
        if (!src.Read(0, &ehdr, sizeof ehdr))
            throw sfx::SfxError("programme tronqué");
        end = std::max<uint64_t>(end, uint64_t(ehdr.e_shoff) + uint64_t(ehdr.e_shnum) * ehdr.e_shentsize);
        end = std::max<uint64_t>(end, uint64_t(ehdr.e_phoff) + uint64_t(ehdr.e_phnum) * ehdr.e_phentsize);
        for (unsigned i = 0; i < ehdr.e_shnum && ehdr.e_shentsize >= sizeof shdr; ++i) {
            if (!src.Read(ehdr.e_shoff + uint64_t(i) * ehdr.e_shentsize, &shdr, sizeof shdr))
                throw sfx::SfxError("programme tronqué");
            if (shdr.sh_type != SHT_NOBITS)
                end = std::max<uint64_t>(end, uint64_t(shdr.sh_offset) + shdr.sh_size);
        }
        for (unsigned i = 0; i < ehdr.e_phnum && ehdr.e_phentsize >= sizeof phdr; ++i) {
            if (!src.Read(ehdr.e_phoff + uint64_t(i) * ehdr.e_phentsize, &phdr, sizeof phdr))
                throw sfx::SfxError("programme tronqué");
            end = std::max<uint64_t>(end, uint64_t(phdr.p_offset) + phdr.p_filesz);
        }
    };
    if (id[EI_CLASS] == ELFCLASS64)
        walk(Elf64_Ehdr{}, Elf64_Shdr{}, Elf64_Phdr{});
    else
        walk(Elf32_Ehdr{}, Elf32_Shdr{}, Elf32_Phdr{});
    if (end > src.Size())
        throw sfx::SfxError("programme tronqué");
    return end;
}

// A directory below `dirFd`, made when missing, never through a link.
int OpenDir(int dirFd, const std::string& part)
{
    if (mkdirat(dirFd, part.c_str(), 0777) != 0 && errno != EEXIST)
        return -1;
    return openat(dirFd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The directory holding `name` (relative to rootFd), opened; its last part in `leaf`.
int OpenParent(int rootFd, const std::string& name, std::string& leaf)
{
    int fd = dup(rootFd);
    size_t b = 0;
    for (size_t e; (e = name.find('/', b)) != std::string::npos; b = e + 1) {
        int next = OpenDir(fd, name.substr(b, e - b));
        close(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    leaf = name.substr(b);
    return fd;
}

time_t DosTime(uint32_t t)
{
    struct tm tm {};
    tm.tm_year = int((t >> 25) & 0x7F) + 80;
    tm.tm_mon = int((t >> 21) & 0x0F) - 1;
    tm.tm_mday = int((t >> 16) & 0x1F);
    tm.tm_hour = int((t >> 11) & 0x1F);
    tm.tm_min = int((t >> 5) & 0x3F);
    tm.tm_sec = int((t & 0x1F) * 2);
    tm.tm_isdst = -1;
    return mktime(&tm);
}

enum class Overwrite { Confirm, Always, Never };

class Extractor {
public:
    Extractor(const sfx::Source& src, int rootFd, Overwrite mode, bool yes)
        : src_(src), root_(rootFd), mode_(mode), yes_(yes)
    {
    }
    // Extracts one entry; false after a write error (reported).
    bool Put(const sfx::Entry& e)
    {
        std::string leaf;
        int dir = e.isDir ? -1 : OpenParent(root_, e.name, leaf);
        if (e.isDir) {
            int fd = OpenParent(root_, e.name + "/", leaf);
            if (fd < 0)
                return Failed(e.name);
            close(fd);
            return true;
        }
        if (dir < 0)
            return Failed(e.name);
        struct stat st;
        if (fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !Replace(e.name)) {
            close(dir);
            std::cout << "Conservé : " << e.name << '\n';
            return true;
        }
        const std::string tmp = ".sfx-" + std::to_string(getpid()) + "-" + leaf.substr(0, 64);
        unlinkat(dir, tmp.c_str(), 0);
        int fd = openat(dir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            close(dir);
            return Failed(e.name);
        }
        bool ok = true;
        int failure = 0;  // the errno of the step that failed, kept for the message
        try {
            sfx::ReadData(src_, e, [fd, &failure](const char* p, size_t n) {
                while (n > 0) {
                    ssize_t w = write(fd, p, n);
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w <= 0) {
                        failure = w == 0 ? ENOSPC : errno;
                        return false;
                    }
                    p += w;
                    n -= size_t(w);
                }
                return true;
            });
        } catch (const sfx::SfxError& err) {
            if (failure == 0)
                std::cerr << "Erreur : " << err.what() << '\n';
            ok = false;
        }
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, (e.mode ? e.mode : 0666) & ~mask);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {DosTime(e.dosTime), 0}};
        futimens(fd, times);
        if (close(fd) != 0 && ok) {
            failure = errno;
            ok = false;
        }
        if (ok && renameat(dir, tmp.c_str(), dir, leaf.c_str()) != 0) {
            failure = errno;
            ok = false;
        }
        if (!ok)
            unlinkat(dir, tmp.c_str(), 0);
        close(dir);
        if (!ok)
            return failure != 0 ? Failed(e.name, failure) : false;
        std::cout << "Extrait : " << e.name << '\n';
        ++count_;
        return true;
    }
    int Count() const { return count_; }

private:
    bool Replace(const std::string& name)
    {
        if (mode_ == Overwrite::Always || (mode_ == Overwrite::Confirm && yes_))
            return true;
        if (mode_ == Overwrite::Never)
            return false;
        std::string a;
        for (;;) {
            if (!Ask("« " + name + " » existe déjà. Remplacer ? (o)ui, (n)on, (t)ous, (a)ucun : ", a))
                return false;
            if (a == "o" || a == "O" || a == "oui")
                return true;
            if (a == "n" || a == "N" || a == "non")
                return false;
            if (a == "t" || a == "T") {
                mode_ = Overwrite::Always;
                return true;
            }
            if (a == "a" || a == "A") {
                mode_ = Overwrite::Never;
                return false;
            }
        }
    }
    static bool Failed(const std::string& name, int error = errno)
    {
        std::cerr << "Erreur : impossible d'écrire « " << name << " » : " << kos::SystemErrorText(error) << '\n';
        return false;
    }

    const sfx::Source& src_;
    int root_;
    Overwrite mode_;
    bool yes_;
    int count_ = 0;
};

// The files chosen from a list of numbers ("1 3 4"); empty: all.
bool ChooseFiles(std::vector<sfx::Entry>& entries)
{
    std::cout << "Fichiers de l'archive :\n";
    for (size_t i = 0; i < entries.size(); ++i)
        std::cout << "  " << i + 1 << ". " << entries[i].name << (entries[i].isDir ? "/" : "") << '\n';
    std::string a;
    for (;;) {
        if (!Ask("Numéros des fichiers à extraire (séparés par des espaces, rien = tous) : ", a))
            return true;
        if (a.empty())
            return true;
        std::vector<bool> keep(entries.size(), false);
        bool ok = true;
        size_t pos = 0;
        while (ok && pos < a.size()) {
            size_t e = a.find(' ', pos);
            std::string n = a.substr(pos, e == std::string::npos ? std::string::npos : e - pos);
            pos = e == std::string::npos ? a.size() : e + 1;
            if (n.empty())
                continue;
            char* stop = nullptr;
            long v = std::strtol(n.c_str(), &stop, 10);
            ok = *stop == '\0' && v >= 1 && size_t(v) <= entries.size();
            if (ok)
                keep[size_t(v - 1)] = true;
        }
        if (!ok) {
            std::cout << "Réponse non comprise.\n";
            continue;
        }
        std::vector<sfx::Entry> chosen;
        for (size_t i = 0; i < entries.size(); ++i)
            if (keep[i])
                chosen.push_back(entries[i]);
        entries = std::move(chosen);
        return true;
    }
}

int Run(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--dossier" || a == "-d") && i + 1 < argc) {
            o.dir = argv[++i];
            o.dirGiven = true;
        } else if (a.rfind("--dossier=", 0) == 0) {
            o.dir = a.substr(10);
            o.dirGiven = true;
        } else if (a == "--oui" || a == "-o") {
            o.yes = true;
        } else if (a == "--test" || a == "-t") {
            o.testOnly = true;
        } else if (a == "--mot-de-passe" && i + 1 < argc) {
            o.password = argv[++i];
            o.passwordGiven = true;
        } else if (a.rfind("--mot-de-passe=", 0) == 0) {
            o.password = a.substr(15);
            o.passwordGiven = true;
        } else if (a == "--aide" || a == "-h" || a == "--help") {
            Usage();
            return kOk;
        } else {
            std::cerr << "Option inconnue : " << a << '\n';
            Usage();
            return kUsage;
        }
    }
    int self = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (self < 0) {
        std::cerr << "Erreur : le programme ne peut pas se lire lui-même\n";
        return kDamaged;
    }
    sfx::FileSource src(self);
    sfx::Header h;
    std::vector<sfx::Entry> entries;
    try {
        const uint64_t start = ImageLength(src);
        h = sfx::ReadHeader(src, start);
        entries = sfx::ReadDirectory(src, start + h.length);
    } catch (const sfx::SfxError& e) {
        std::cerr << "Erreur : archive endommagée, extraction refusée : " << e.what() << '\n';
        return kDamaged;
    }
    if (!FindPasswords(src, entries, o))
        return kCancelled;
    try {
        // the whole archive is checked before anything is written
        for (const sfx::Entry& e : entries)
            if (!e.isDir)
                sfx::ReadData(src, e, [](const char*, size_t) { return true; });
    } catch (const sfx::SfxError& e) {
        std::cerr << "Erreur : archive endommagée, extraction refusée : " << e.what() << '\n';
        return kDamaged;
    }
    if (!h.caption.empty()) {
        const auto width = std::count_if(h.caption.begin(), h.caption.end(), [](char c) { return (c & 0xC0) != 0x80; });
        std::cout << h.caption << '\n' << std::string(size_t(width), '=') << '\n';
    }
    if (o.testOnly) {
        // files, as the extraction counts them; folders are no files
        const auto files = std::count_if(entries.begin(), entries.end(), [](const sfx::Entry& e) { return !e.isDir; });
        std::cout << "Archive intacte : " << files << " fichier(s).\n";
        return kOk;
    }
    if (!h.message.empty()) {
        std::cout << h.message << '\n';
        if (!o.yes && !AskYesNo("Continuer ?", true)) {
            std::cout << "Extraction annulée.\n";
            return kCancelled;
        }
    }
    std::string dir = o.dirGiven ? o.dir : (h.defaultDir.empty() ? std::string(".") : h.defaultDir);
    if (!o.dirGiven && !o.yes) {
        std::string a;
        if (Ask("Dossier de destination [" + dir + "] : ", a) && !a.empty())
            dir = a;
    }
    if ((h.flags & sfx::kAskFiles) && !o.yes)
        ChooseFiles(entries);
    Overwrite mode = (h.flags & sfx::kOverwriteAlways) ? Overwrite::Always
        : (h.flags & sfx::kOverwriteNever)             ? Overwrite::Never
                                                       : Overwrite::Confirm;
    if (!(h.flags & sfx::kHideOverwriteBox) && !o.yes) {
        const char* current = mode == Overwrite::Always ? "r" : mode == Overwrite::Never ? "c" : "d";
        std::string a;
        for (;;) {
            if (!Ask(std::string("Fichiers déjà présents : (d)emander, (r)emplacer, (c)onserver [") + current + "] : ",
                    a) ||
                a.empty())
                break;
            if (a == "d" || a == "r" || a == "c") {
                mode = a == "r" ? Overwrite::Always : a == "c" ? Overwrite::Never : Overwrite::Confirm;
                break;
            }
        }
    }
    // the directory, made when missing
    for (size_t p = 1; p <= dir.size(); ++p)
        if (p == dir.size() || dir[p] == '/')
            mkdir(dir.substr(0, p).c_str(), 0777);
    int root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        std::cerr << "Erreur : dossier inaccessible « " << dir << " » : " << kos::SystemErrorText(errno) << '\n';
        return kWriteError;
    }
    if (!(h.flags & sfx::kNoSizeCheck)) {
        uint64_t need = 0;
        for (const sfx::Entry& e : entries)
            need += e.usize;
        // a file system of no stated size (f_blocks 0) says nothing of its room
        struct statvfs vs;
        if (fstatvfs(root, &vs) == 0 && vs.f_blocks != 0 && uint64_t(vs.f_bavail) * vs.f_frsize < need) {
            std::cerr << "Erreur : espace disque insuffisant dans « " << dir << " » (" << need
                      << " octets nécessaires)\n";
            close(root);
            return kWriteError;
        }
    }
    Extractor x(src, root, mode, o.yes);
    bool ok = true;
    for (const sfx::Entry& e : entries)
        ok = x.Put(e) && ok;
    close(root);
    if (!ok) {
        std::cerr << "Erreur : l'extraction est incomplète.\n";
        return kWriteError;
    }
    if ((h.flags & sfx::kAutoRun) && !h.commandLine.empty()) {
        bool run = !(h.flags & sfx::kAskCmdLine) || o.yes || AskYesNo("Lancer « " + h.commandLine + " » ?", true);
        if (run) {
            std::cout << std::flush;
            pid_t pid = fork();
            if (pid == 0) {
                if (chdir(dir.c_str()) != 0)
                    _exit(127);
                execl("/bin/sh", "sh", "-c", h.commandLine.c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            int status = 0;
            if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::cerr << "Erreur : la commande « " << h.commandLine << " » a échoué.\n";
                return kCommandFailed;
            }
        }
    }
    if (!(h.flags & sfx::kNoSuccessMsg))
        std::cout << x.Count() << " fichier(s) extrait(s) dans « " << dir << " ».\n";
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "Erreur : " << kos::ExceptionReason(e) << '\n';
        return kDamaged;
    }
}
