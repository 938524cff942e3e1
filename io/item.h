// A named thing in the file system: a path and the metadata to apply to it.
// An item holds no system handle; destroying it never touches the disk.
#pragma once

#include "io/item_info.h"
#include "io/path.h"

namespace io {

class item {
public:
    item() = default;
    explicit item(const io::path& path) : path_(path) {}
    virtual ~item() = default;

    // Brings the object into existence; a generic item cannot be created
    // (io::exception "cannot be created generically").
    virtual void create(bool flag);
    // Deletes the object: a folder as io::directory does, anything else as a
    // file, never reporting a failure for a file.
    virtual void remove(bool report);

    // Whether anything (file, folder, other) exists under the path; never
    // raises.
    bool exists() const;
    bool is_directory() const;
    // Whether the path is a symbolic link (dangling or not); never raises.
    bool is_link() const;

    // Creates every missing ancestor folder, outermost first, then
    // `create(flag)`.
    void create_with_parents(bool flag);
    // Creates the immediate parent folder when the item does not exist and
    // the path has at least two components.
    void create_parent();

    // Replaces control characters and " * / < > ? | in the last component
    // by '_'; true when something was replaced.
    bool replace_illegal_characters();
    // When the path exists, renames its last component to stem_1.ext,
    // stem_2.ext, ... up to `max_attempts`, until a free name is found
    // (true); false when the path was free already. Throws io::exception
    // "cannot resolve name conflict for <path>" when every candidate exists.
    bool resolve_name_conflict(int max_attempts);

    // Applies `info` to the object; best effort, never raises.
    void apply_info();

    io::path& path() { return path_; }
    const io::path& path() const { return path_; }
    io::item_info& info() { return info_; }
    const io::item_info& info() const { return info_; }

private:
    io::item_info info_;
    io::path path_;
};

}  // namespace io
