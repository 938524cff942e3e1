// The record of a run that nobody watches (-log FILE): what was done and
// how the run ended, one line each, in UTF-8, written as it happens so that
// a run that is killed leaves what it did:
//
//   started: C:\Downloads\setup.exe -q -log C:\setup.log
//   destination: C:\Users\me\AppData\Local\Temp\quillon-1a2b3c4d\viewer
//   extracted: C:\Users\me\AppData\Local\Temp\quillon-1a2b3c4d\viewer\setup.exe
//   kept: C:\Program Files\Viewer\readme.txt
//   done: 12 files extracted, 1 kept
//   running: C:\...\viewer\setup.exe /install
//   the program's exit code: 0
//   exit code: 0
//
// Errors are the line "error: " and their display text; a cancel is
// "cancelled". The listing and the test of -l and -t are copied into it.
// Its state is process-wide (one run).
#pragma once

#include <string>

#include "io/path.h"

namespace quillon::self {

class run_log {
public:
    // Creates `file` (an existing one is emptied). Throws io::exception
    // when it cannot be made: an unattended run without its record stops
    // before anything is done.
    static void open(const io::path& file);
    static bool is_open();
    // Appends `text` as it is; nothing without a log. Never raises: a full
    // disk does not stop the run it records.
    static void write(const std::string& text) noexcept;
    // `text` and a line break.
    static void line(const std::string& text) noexcept;
    // Closes the log; never raises.
    static void close() noexcept;
};

}  // namespace quillon::self
