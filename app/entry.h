// The process entry shared by both front ends: reads the switches, opens
// the program's own file, finds the appended archive, and lists it, tests
// it, or asks for the destination and extracts it; turns the outcome into
// the exit code.
#pragma once

#include <vector>

#include "io/text/string.h"

namespace quillon::self {

class entry {
public:
    enum exit_code : int {
        done = 0,       // every entry was extracted (or listed, or tested good)
        cancelled = 1,  // the user cancelled; no message
        failed = 2,     // an error was shown to the user; -t: an entry is damaged
        aborted = 3,    // anything else (out of memory, a library failure); no message
    };

    // `arguments`: the command line after the program's name (see
    // app/options.h). Without -q or -d the destination is asked for; the
    // overwrite question, the passphrase question and error messages appear
    // also with -q.
    static int run(const std::vector<any::string>& arguments);
};

}  // namespace quillon::self
