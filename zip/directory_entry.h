// What the directory scan keeps of one central directory record until its
// entry has been extracted.
#pragma once

#include <cstdint>

namespace format::zip {

class directory_entry {
public:
    virtual ~directory_entry() = default;

    std::uint32_t local_header_offset = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t crc = 0;
};

}  // namespace format::zip
