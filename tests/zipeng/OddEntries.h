#pragma once
// The archives of corpus/ with an odd entry, and the reason every reader of
// the program gives when it refuses them (platform/zipeng/EntryRules.h):
// the archive libraries, the zip component, the restore and the
// self-extracting program alike.
#include <string>
#include <vector>

struct OddArchive {
    std::string file;  // in tests/zipeng/corpus
    std::string reason;
    bool localOnly = false;  // seen only where the local headers are read
};

inline const std::vector<OddArchive>& OddArchives()
{
    static const std::vector<OddArchive> all = {
        {"odd-duplicate.zip", "nom en double dans l'archive : Cons.DBF"},
        {"odd-local-name.zip", "noms local et central différents : Cons.DBF (en-tête local : Cons.DBX)", true},
        {"odd-local-name-length.zip", "noms local et central différents : Cons.DBF (en-tête local : Cons.DBFX)", true},
        {"odd-folder-data.zip", "dossier portant des données : PROT/"},
        {"odd-device.zip", "entrée de périphérique refusée : dev"},
        {"odd-extra-past-directory.zip", "en-tête central dépassant la fin du répertoire central : Other.txt"},
        {"odd-extra-subfield.zip", "champ complémentaire dépassant sa longueur : Notes.txt"},
        {"odd-bad-utf8.zip", "nom marqué UTF-8 mais invalide : Consÿþ.DBF"},
    };
    return all;
}
