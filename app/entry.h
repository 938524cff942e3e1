// The process entry shared by both front ends: opens the program's own file,
// finds the appended archive, asks for the destination and runs the
// extraction; turns the outcome into the exit code.
#pragma once

namespace quillon::self {

class entry {
public:
    enum exit_code : int {
        done = 0,       // every entry was extracted
        cancelled = 1,  // the user cancelled; no message
        failed = 2,     // an error was shown to the user
        aborted = 3,    // anything else (out of memory, a library failure); no message
    };

    // `quiet` ("-q"): no destination question and no progress display; the
    // current folder is the destination. The overwrite question, the
    // passphrase question and the error message still appear.
    static int run(bool quiet);
};

}  // namespace quillon::self
