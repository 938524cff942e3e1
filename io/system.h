// What the file layer needs from the operating system: one implementation
// per system, in io/win32/ and io/posix/. Everything above these calls is
// shared. Calls that report a bool leave the system's last error set when
// they fail, for `raise_system_error`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "io/fork.h"
#include "io/item_info.h"
#include "io/path.h"

namespace io::system {

using handle_type = io::fork::handle_type;

// The separator set of the system's own paths.
const std::u16string& separators();

// Open modes of io::fork.
enum open_mode : int {
    read_existing = 0,    // read; others may read and write
    read_write = 1,       // read and write an existing file
    create_new = 2,       // a new file; an existing one is an error
    create_truncate = 3,  // a new file, or an existing one emptied
};

// io::fork::invalid_handle on failure.
handle_type open(const io::path& name, int mode);
// Opens an existing item for reading as it is found, for a caller that
// checks what it opened (`is_regular_file`): a folder opens too on POSIX
// (Windows refuses it), and a FIFO opens at once instead of waiting for a
// writer. With `follow_link` false a symbolic link (on Windows a reparse
// point) as the last component is refused (ELOOP;
// ERROR_CANT_RESOLVE_FILENAME).
handle_type open_as_found(const io::path& name, bool follow_link);
// 0 standard input, 1 output, 2 error; io::fork::invalid_handle when the
// process has none.
handle_type standard_handle(int which);
bool close(handle_type handle);
bool is_character_device(handle_type handle);
bool read(handle_type handle, void* buffer, std::uint32_t count, std::uint32_t& done);
// At most `count` bytes from `position`, 0 at the end of the file, whatever
// the handle's own position; calls on one handle may run at once. On
// Windows the handle's position moves (it is left where the read ended).
bool read_at(handle_type handle, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t& done);
// Whether the open handle is a regular file (no folder, FIFO or device).
bool is_regular_file(handle_type handle);
// Writes everything unless the system reports an error.
bool write(handle_type handle, const void* buffer, std::uint32_t count);
bool size(handle_type handle, std::uint64_t& size);
bool position(handle_type handle, std::uint64_t& position);
bool seek(handle_type handle, std::uint64_t position);
// Ends the file at the current position (truncating or extending it).
bool end_file_here(handle_type handle);
bool flush(handle_type handle);
bool remove_file(const io::path& name);
// Renames the file `from` to `to`, replacing a file of that name in one
// step.
bool rename_replacing(const io::path& from, const io::path& to);

// The bytes this user may still write on the file system that holds the
// existing folder `name` (less what is kept for the administrator).
bool free_space(const io::path& name, std::uint64_t& bytes);

// Never raise: a name the system cannot take does not exist.
bool exists(const io::path& name);
bool is_directory(const io::path& name);
// A symbolic link (on Windows any reparse point), dangling or not; the link
// itself, never what it points at.
bool is_link(const io::path& name);
bool create_directory(const io::path& name);
bool remove_directory(const io::path& name);
// Removes the folder and everything in it; links found inside are removed
// themselves, never followed. What cannot be removed stays, and the rest
// still goes: false then, `left` naming the first thing that stayed and the
// last error saying why.
bool remove_tree(const io::path& name, io::path& left);

// Best effort, failures ignored: the times first, then the attributes or
// the permission bits (so that a read-only attribute cannot keep the times
// from being set). Never through a symbolic link: a link found under the
// name is left as it is, and so is what it points at.
void apply_info(const io::path& name, const io::item_info& info);
// The same on an open file, without looking for it again by name.
void apply_info(handle_type handle, const io::item_info& info);

// A symbolic link `name` holding `target`; false when the system refuses
// (an existing name included). Windows has no such link for unprivileged
// programs: there it fails with ERROR_NOT_SUPPORTED.
bool create_link(const io::path& name, const std::string& target);
// Whether this system's extraction makes symbolic links at all.
extern const bool has_symbolic_links;

// Whether an open folder handle keeps its folder from being renamed or
// removed (Windows), so that a path through open folders stays the same.
extern const bool folders_pinned_while_open;

// Folders held open (io::folder_handle): `folder` is an open folder's
// handle and `folder_name` the backend's form of its name, which the calls
// below fill and take; `name` is one component in it. Links are never
// followed: a link under `name` is the link itself.
handle_type open_folder(const io::path& name, std::u16string& folder_name);
// The folder `name` in `folder`; the invalid handle for a link, or for
// anything else that is no folder.
handle_type open_folder_in(handle_type folder, const std::u16string& folder_name, const any::string& name,
                           std::u16string& child_name);
// Makes the folder `name` in `folder` unless something of that name
// exists; failures are left to the open that follows.
void create_folder_in(handle_type folder, const std::u16string& folder_name, const any::string& name);
bool close_folder(handle_type folder);
// 0 nothing, 1 a file, 2 a folder, 3 a link, 4 anything else (the order of
// io::folder_handle::kind).
int kind_in(handle_type folder, const std::u16string& folder_name, const any::string& name);
handle_type create_file_in(handle_type folder, const std::u16string& folder_name, const any::string& name,
                           bool replace);
bool create_link_in(handle_type folder, const std::u16string& folder_name, const any::string& name,
                    const std::string& target, bool replace);
bool remove_in(handle_type folder, const std::u16string& folder_name, const any::string& name);

// The bytes by which the system tells names in one folder apart: two names
// with the same key are one file. Windows: the name with its trailing dots
// and blanks dropped, letters of either case alike; POSIX: the name's own
// bytes. Empty for a name the system cannot hold.
std::string name_key(const any::string& name);
// Calls `found` with the key of every name in the folder `name` (and of
// each name's short alias, where the system has them); a folder that does
// not exist holds nothing. False when the folder cannot be read.
bool list_keys(const io::path& name, const std::function<void(const std::string&)>& found);

// The last error, to keep it across a cleanup call.
std::int32_t last_error();
void set_last_error(std::int32_t code);

}  // namespace io::system
