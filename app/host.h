// What the entry needs from the system it runs on: its own file, the
// current folder and a way to show the one error message. One
// implementation per front end (app/win32/, app/posix/).
#pragma once

#include <string>

#include "io/path.h"
#include "io/text/string.h"

namespace quillon::self {

class host {
public:
    // The program's own executable file, by the name under which it runs.
    static io::path own_path();
    // The file whose headers describe the running image (the same file;
    // on Linux the kernel's link to it, which survives renames).
    static io::path own_image();
    // The process's current folder when the program starts.
    static any::string current_directory();
    // Shows `text` (the display text of a failure) to the user; never raises.
    static void show_error(const std::string& text) noexcept;
};

}  // namespace quillon::self
