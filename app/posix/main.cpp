// The Linux stub: a console program with the same entry sequence, driver
// and exit codes as the Windows one; its questions are asked on the
// terminal.
#include <cstdlib>
#include <cstring>

#include "app/entry.h"

int main(int argc, char** argv) {
    // Entry times are local times. While TZ is unset, the C library checks
    // the zone file again at every conversion, two per entry; naming the
    // same file keeps it loaded once.
    setenv("TZ", ":/etc/localtime", 0);
    // "-q" counts only when it is the whole command line.
    const bool quiet = argc == 2 && std::strcmp(argv[1], "-q") == 0;
    return quillon::self::entry::run(quiet);
}
