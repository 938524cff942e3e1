// What the directory scan keeps of one central directory record until its
// entry has been extracted: where its local header is, and the values that
// the local header may leave to the directory.
#pragma once

#include <cstdint>

namespace format::zip {

struct directory_entry {
    std::uint64_t local_header_offset = 0;
    std::uint64_t compressed_size = 0;
    std::uint32_t crc = 0;
};

}  // namespace format::zip
