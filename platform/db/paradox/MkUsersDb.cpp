// Writes the empty user table shipped beside the program: the five
// character columns of the login, protected by the two session passwords.
// Usage: korvale_mkusersdb <output path>
#include <cstdio>
#include <exception>

#include "platform/db/paradox/ParadoxTable.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output .DB path>\n", argv[0]);
        return 2;
    }
    try {
        kdb::ParadoxCreateOptions options;
        options.passwords = {"/Kelvar/", "/TAVEN/"};
        kdb::ParadoxTable::create(argv[1],
            {{"USERID", 'A', 20}, {"NOM", 'A', 30}, {"PRENOM", 'A', 30}, {"ACCES", 'A', 20}, {"PW", 'A', 128}},
            options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
