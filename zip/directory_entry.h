// What the survey of the directory keeps of one entry until it has been
// extracted: where its local header is, the values the local header may
// leave to the directory, and what only the directory holds.
#pragma once

#include <cstdint>
#include <string>

#include "io/time.h"

namespace format::zip {

struct directory_entry {
    // The local header's absolute position in the file, once found.
    std::uint64_t local_position = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint32_t crc = 0;
    // The POSIX mode of an entry made on Unix; 0 when there is none.
    std::uint32_t unix_mode = 0;
    // The directory's UTC time, when it has one (a local header without
    // one takes it from here).
    bool exact_time = false;
    io::time modified;
    // A symbolic link to be made: its target, read and checked before
    // anything was written.
    bool is_link = false;
    std::string link_target;
};

}  // namespace format::zip
