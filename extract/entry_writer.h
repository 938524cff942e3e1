// Writes what an extraction makes below its destination: folders, files
// and links, each created by name in its open parent folder, which was
// reached from the destination one component at a time without following a
// link (io::folder_chain), so that nothing swapped in after the archive was
// checked can send a write elsewhere. Folders get their times and modes
// once more at the end: files created in them change their times, and a
// folder's own mode may forbid writing into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/directory.h"
#include "io/file.h"
#include "io/folder_chain.h"
#include "io/path.h"
#include "io/time.h"

namespace format::zip {

class entry_writer {
public:
    // `destination` is borrowed; it exists.
    explicit entry_writer(const io::directory& destination);

    // The folder `name` (below the destination) and its parent, never more,
    // as folder entries always made them; its time and mode (0: none)
    // follow at the end.
    void folder(const io::path& name, io::time modified, std::uint32_t mode);
    // Creates the file `name` below the destination as `target`, whose
    // path is `path_of(name)`: its missing folders made first, a file or a
    // link (the link itself) of that name replaced, or, without `replace`,
    // an error. Its data fork is then open.
    void create_file(const io::path& name, io::file& target, bool replace = true);
    // Gives the open file its time and mode (0: none) by its handle and
    // closes it; a failing close is an error.
    void close_file(io::file& target, io::time modified, std::uint32_t mode);
    // Closes and removes a file that did not come out whole, by its name in
    // its folder (never through a link); never raises.
    void discard_file(const io::path& name, io::file& target) noexcept;
    // A symbolic link `name` holding `target`, replacing a file or link.
    void link(const io::path& name, const std::string& target);
    // The times and modes of the folders written.
    void finish();
    // The destination itself, made with its parents when it is missing.
    void make_destination() { chain_.reach(io::path(), true); }

    // The full path of `name` below the destination.
    io::path path_of(const io::path& name) const;

private:
    // The folder that holds `name`, made with its missing parents.
    const io::folder_handle& parent_of(const io::path& name);

    struct written_folder {
        std::u16string name;  // as in the archive, packed
        io::time modified;
        std::uint32_t mode;  // 0: none
    };

    const io::directory* destination_;
    io::folder_chain chain_;
    std::vector<written_folder> folders_;
};

}  // namespace format::zip
