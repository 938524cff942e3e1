#include "io/directory.h"

#include "errors/exception.h"
#include "io/system.h"
#include "io/system_error.h"

namespace io {

void directory::create(bool) {
    // Something of that name, even a file, counts as done.
    if (path().empty() || exists()) return;
    // With the system's reason: a folder the user may not write, a
    // read-only file system, a full disk.
    if (!system::create_directory(path())) raise_system_error(path(), "cannot create", "io::directory");
}

void directory::remove(bool report) {
    if (!system::remove_directory(path()) && report)
        throw io::exception("cannot delete " + path().join().narrow(), "io::directory", 0);
}

void directory::remove_tree(bool report) {
    io::path left;
    if (!system::remove_tree(path(), left) && report) raise_system_error(left, "cannot delete", "io::directory");
}

}  // namespace io
