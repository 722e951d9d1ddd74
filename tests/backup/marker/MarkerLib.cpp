// A stand-in for an archive library, put where no library may be taken
// from: loading it appends a line to the file $KORVALE_TEST_MARKER.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void Loaded()
{
    if (const char* file = std::getenv("KORVALE_TEST_MARKER"))
        if (std::FILE* out = std::fopen(file, "a")) {
            std::fputs("loaded\n", out);
            std::fclose(out);
        }
}
