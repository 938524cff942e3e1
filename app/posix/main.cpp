// The Linux stub: a console program with the same entry sequence, driver
// and exit codes as the Windows one; its questions are asked on the
// terminal.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
    // Entry times are local times. While TZ is unset, the C library checks
    // the zone file again at every conversion, two per entry; naming the
    // same file keeps it loaded once.
    setenv("TZ", ":/etc/localtime", 0);
    std::vector<any::string> arguments;
    try {
        // Names travel as the bytes they are (see io/text/string.h).
        for (int i = 1; i < argc; ++i) arguments.emplace_back(std::string(argv[i]));
    } catch (...) {
        return quillon::self::entry::aborted;
    }
    return quillon::self::entry::run(arguments);
}
