// A folder.
#pragma once

#include "io/item.h"

namespace io {

class directory : public item {
public:
    directory() = default;
    explicit directory(const io::path& path) : item(path) {}

    // Creates this one folder (its parent must exist) unless the path is
    // empty or something exists under it already; the flag is ignored.
    // Throws io::exception "cannot create "<path>"; <the system's reason>".
    void create(bool flag = true) override;
    // Removes the (empty) folder; with `report`, a failure throws
    // io::exception "cannot delete <path>".
    void remove(bool report = true) override;
    // Removes the folder with everything in it, links inside removed
    // themselves and never followed. What cannot be removed stays, the rest
    // goes; with `report`, that throws io::exception "cannot delete <path>"
    // naming the first thing that stayed.
    void remove_tree(bool report = true);
};

}  // namespace io
