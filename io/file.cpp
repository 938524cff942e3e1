#include "io/file.h"

#include "io/system.h"

namespace io {
namespace {

// The owner's path with `suffix` appended to its last component.
io::path side_file(const io::path& owner, const char16_t* suffix) {
    io::path name = owner;
    if (!name.empty()) name.components().back() += suffix;
    return name;
}

}  // namespace

data_fork::data_fork(io::file& owner) : fork(owner) {}

io::path data_fork::name() const { return owner().path(); }

info_fork::info_fork(io::file& owner) : fork(owner) {}

io::path info_fork::name() const { return side_file(owner().path(), u".info"); }

resource_fork::resource_fork(io::file& owner) : fork(owner) {}

io::path resource_fork::name() const { return side_file(owner().path(), u".rsrc"); }

void file::create(bool replace) { data_.create(replace); }

void file::remove(bool) { data_.remove(false); }

bool file::any_fork_exists() const {
    return system::exists(data_.name()) || system::exists(info_.name()) || system::exists(resource_.name());
}

}  // namespace io
