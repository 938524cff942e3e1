// Which names the folders of an extraction hold, learnt by listing each
// folder once, the first time a name in it is asked about, and from what
// the extraction says it makes afterwards. Most files an archive brings are
// new: asking the system about each one (and its two side files) would
// cost more calls than writing it.
//
// Names are kept as 64-bit hashes of their keys (io::system::name_key), so
// the answer "nothing of that name" is certain only for names the folder
// did not hold when it was listed and nobody made since; a file made there
// by someone else meanwhile is not seen, so whoever trusts the answer
// creates the file without replacing anything (an error, not a loss).
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "io/path.h"

namespace io {

class name_index {
public:
    // Whether something named `name` (a full path), or one of its side
    // files ("<name>.info", "<name>.rsrc"), may exist. False only when its
    // folder was listed and holds none of them.
    bool any_fork_may_exist(const io::path& name);
    // `name` and its `levels` - 1 parent folders are made (or about to be):
    // the folders a file needs are made with it.
    void made(const io::path& name, std::size_t levels);

private:
    // The hash of the folder that holds `name`; the last one is kept, since
    // an archive's files come folder by folder.
    std::uint64_t folder_of(const io::path& name);
    // Whether the folder that holds `name` (whose hash is `folder`) is
    // listed: listed now if it never was.
    bool listed(const io::path& name, std::uint64_t folder);

    std::unordered_set<std::uint64_t> folders_;     // listed
    std::unordered_set<std::uint64_t> unreadable_;  // could not be listed
    std::unordered_set<std::uint64_t> names_;
    std::vector<any::string> last_folder_;
    std::uint64_t last_folder_hash_ = 0;
    bool has_last_folder_ = false;
};

}  // namespace io
