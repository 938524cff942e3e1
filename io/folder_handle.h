// An open folder, the anchor of every name an extraction creates: files,
// folders and links are made in it by name, and folders below it are
// opened one component at a time without following a symbolic link. A
// folder exchanged for a link after it was checked cannot send a write
// elsewhere: the next open of a component refuses the link (POSIX: openat
// with O_NOFOLLOW), and on Windows every folder of the way stays open
// without delete sharing, so it cannot be renamed or replaced meanwhile.
//
// Names given to the operations are single components that the caller has
// vetted: no separator, no "..". A handle owns its system handle and closes
// it when it goes; it may be moved, not copied.
#pragma once

#include <cstdint>
#include <string>

#include "io/fork.h"
#include "io/item_info.h"
#include "io/path.h"

namespace io {

class folder_handle {
public:
    using handle_type = io::fork::handle_type;

    // What a name in the folder is, the name itself and never what a link
    // points at.
    enum class kind { none, file, folder, link, other };

    folder_handle() = default;
    ~folder_handle() { close(); }
    folder_handle(folder_handle&& other) noexcept { *this = std::move(other); }
    folder_handle& operator=(folder_handle&& other) noexcept;
    folder_handle(const folder_handle&) = delete;
    folder_handle& operator=(const folder_handle&) = delete;

    // The folder `path` itself, links on its way followed: it is the one
    // the user chose. Throws io::exception "cannot open the folder".
    static folder_handle open(const io::path& path);

    // The folder `name` in this one, made first when it is missing and
    // `create` says so. A link of that name is never followed: it, and
    // anything else that is no folder, is an io::exception saying what it
    // is ("... is a symbolic link", "... is not a folder").
    folder_handle child(const any::string& name, bool create) const;

    // What `name` is in this folder; never raises.
    kind kind_of(const any::string& name) const;
    // A file `name` in this folder, opened for writing. Without `replace`
    // anything of that name is an error; with it a file is emptied and a
    // link is removed and replaced by the file, never followed; a folder is
    // never replaced. The invalid handle when the system refuses (its last
    // error then says why).
    handle_type create_file(const any::string& name, bool replace) const;
    // A symbolic link `name` holding `target`; with `replace` a file or
    // link of that name goes first. False when the system refuses.
    bool create_link(const any::string& name, const std::string& target, bool replace) const;
    // Removes the file or link `name`; false when the system refuses.
    bool remove(const any::string& name) const;
    // Times and modes on the folder itself, by its handle; best effort.
    void apply_info(const io::item_info& info) const;

    bool is_open() const { return handle_ != io::fork::invalid_handle; }
    void close();
    // The folder's path, and that of a name in it, for messages.
    const io::path& path() const { return path_; }
    io::path path_of(const any::string& name) const;

private:
    handle_type handle_ = io::fork::invalid_handle;
    io::path path_;
    // The backend's own form of the folder's name (Windows: the long form
    // that names in it are appended to); empty where handles suffice.
    std::u16string system_name_;
};

}  // namespace io
