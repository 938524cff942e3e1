// The progress display: the name of the file being written, a bar, the
// percentage and which file of how many, and the user's Cancel. Its state is process-wide (there is one extraction);
// the object is only the handle through which the driver speaks to it.
//
// Without `show` (quiet mode) every operation has no visible effect.
#pragma once

#include <cstdint>

#include "io/text/string.h"

namespace quillon::self {

class progress_window {
public:
    void show();
    // `total` is the size of the program's file: the bar measures absolute
    // positions in it, so that it counts the stub as done.
    void begin(std::uint64_t total);
    // Moves the bar to `position` and lets the display handle the user's
    // input; raises quillon::self::evacuation (empty message) when the user
    // has cancelled.
    void step(std::uint64_t position);
    void set_name(const any::string& name);
    // How many files the extraction goes through, and which of them it has
    // reached (from 1; a file kept counts too).
    void set_file_count(std::uint64_t files);
    void reach_file(std::uint64_t number);
    void destroy();
};

}  // namespace quillon::self
