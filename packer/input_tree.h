// The files and folders named on the command line, walked into the entries
// of a new archive: names relative to each input's parent, "/" between
// components, folders (empty ones too) as entries of their own, in a stable
// sorted order.
#pragma once

#include <string>
#include <vector>

namespace quillon::pack {

struct input_entry {
    std::string path;  // where to read it
    std::string name;  // its name in the archive; folders end with "/"
    bool directory;
    std::int64_t modified;  // Unix seconds
    std::uint32_t mode;     // st_mode
    std::uint64_t size;
};

// Throws `failure` for a missing input or a folder that cannot be read.
std::vector<input_entry> walk_inputs(const std::vector<std::string>& inputs);

}  // namespace quillon::pack
