#include "io/link.h"

#include "io/system.h"
#include "io/system_error.h"

namespace io {

void link::create(bool replace) {
    if (system::create_link(path(), target_)) return;
    // A name that is taken: only a file or another link gives way, and only
    // when asked to.
    if (replace && exists() && (is_link() || !is_directory()) && system::remove_file(path()) &&
        system::create_link(path(), target_))
        return;
    raise_system_error(path(), "cannot create link", "io::link");
}

}  // namespace io
