// The Linux stub: a console program with the same entry sequence, driver
// and exit codes as the Windows one; its questions are asked on the
// terminal.
#include <cstring>

#include "app/entry.h"

int main(int argc, char** argv) {
    // "-q" counts only when it is the whole command line.
    const bool quiet = argc == 2 && std::strcmp(argv[1], "-q") == 0;
    return quillon::self::entry::run(quiet);
}
