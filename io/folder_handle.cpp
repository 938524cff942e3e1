#include "io/folder_handle.h"

#include "errors/exception.h"
#include "io/system.h"
#include "io/system_error.h"

namespace io {

namespace {

const char* const where = "io::folder_handle";

}  // namespace

folder_handle& folder_handle::operator=(folder_handle&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        system_name_ = std::move(other.system_name_);
        other.handle_ = io::fork::invalid_handle;
    }
    return *this;
}

void folder_handle::close() {
    if (is_open()) system::close_folder(handle_);
    handle_ = io::fork::invalid_handle;
}

folder_handle folder_handle::open(const io::path& path) {
    folder_handle folder;
    folder.path_ = path;
    folder.handle_ = system::open_folder(path, folder.system_name_);
    if (!folder.is_open()) raise_system_error(path, "cannot open the folder", where);
    return folder;
}

io::path folder_handle::path_of(const any::string& name) const {
    io::path named = path_;
    named.append(name);
    return named;
}

folder_handle folder_handle::child(const any::string& name, bool create) const {
    folder_handle folder;
    folder.path_ = path_of(name);
    // Opened first: most folders asked for exist already (an archive's
    // files come after their folder), so making one is the rare second try.
    folder.handle_ = system::open_folder_in(handle_, system_name_, name, folder.system_name_);
    if (!folder.is_open() && create) {
        system::create_folder_in(handle_, system_name_, name);
        folder.handle_ = system::open_folder_in(handle_, system_name_, name, folder.system_name_);
    }
    if (folder.is_open()) return folder;
    const std::int32_t code = system::last_error();
    const std::string shown = "\"" + folder.path_.join().printable().to_utf8() + "\"";
    switch (kind_of(name)) {
        case kind::link:
            throw io::exception("cannot write below " + shown + ": it is a symbolic link", where, code);
        case kind::file:
        case kind::other:
            throw io::exception("cannot create the folder " + shown + ": something else of that name exists", where,
                                code);
        default:
            break;
    }
    system::set_last_error(code);
    raise_system_error(folder.path_, create ? "cannot create" : "cannot open the folder", where);
    return folder;
}

folder_handle::kind folder_handle::kind_of(const any::string& name) const {
    return static_cast<kind>(system::kind_in(handle_, system_name_, name));
}

folder_handle::handle_type folder_handle::create_file(const any::string& name, bool replace) const {
    return system::create_file_in(handle_, system_name_, name, replace);
}

bool folder_handle::create_link(const any::string& name, const std::string& target, bool replace) const {
    return system::create_link_in(handle_, system_name_, name, target, replace);
}

bool folder_handle::remove(const any::string& name) const { return system::remove_in(handle_, system_name_, name); }

void folder_handle::apply_info(const io::item_info& info) const {
    if (is_open()) system::apply_info(handle_, info);
}

}  // namespace io
