// The files and folders named on the command line, walked into the entries
// of a new archive: names relative to each input's parent, "/" between
// components, folders (empty ones too) as entries of their own, in a stable
// sorted order.
//
// Symbolic links below the inputs are entries of their own, holding their
// target, unless `follow_links`: then what they point at is packed in their
// place (a link that points nowhere is still stored as a link). Links named
// on the command line are followed either way: naming one means what it
// points at. No folder is walked twice (the same device and inode reached
// again through links, or named twice): a repeat is skipped with a warning,
// so links in a loop cannot make the walk endless. Sockets, FIFOs and
// devices are skipped with a warning each, and so is a symbolic link to an
// absolute path, which the stub would refuse to make (--follow-links packs
// what it points at).
//
// Never packed: folders named ".git", the output file itself (a program
// made earlier into the folder being packed), and what `excluded` names:
// fnmatch patterns matched against the name relative to the input's parent
// ("tree/docs/a.txt"; `*` matches across "/"), and, for a pattern without
// "/", against the last component of every name ("*.pyc", "__pycache__").
// An excluded folder is not walked.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quillon::pack {

enum class entry_kind { file, folder, link };

struct input_entry {
    std::string path;  // where to read it
    std::string name;  // its name in the archive; folders end with "/"
    entry_kind kind;
    std::int64_t modified;  // Unix seconds
    std::uint32_t mode;     // st_mode, the type bits included
    std::uint64_t size;     // of a file's data or a link's target; 0 for a folder
    std::string target;     // a link's target
};

// Throws `failure` for a missing input, a folder that cannot be read, or a
// link whose target the stub would refuse to make (one that leaves the
// destination). Each skipped item is one line on `warnings`.
struct walk_settings {
    bool follow_links = false;
    std::vector<std::string> excluded;
    std::string output;  // the file being made; empty: none
};

std::vector<input_entry> walk_inputs(const std::vector<std::string>& inputs, const walk_settings& settings,
                                     std::ostream& warnings);

}  // namespace quillon::pack
