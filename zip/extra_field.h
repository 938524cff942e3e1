// The blocks of an entry's extra field: a 2-byte tag and a 2-byte length in
// front of each block's data. One walk for every reader of them (the
// records' Zip64 values, names and times; the packer's append).
#pragma once

#include <cstddef>
#include <cstdint>

namespace format::zip {

struct extra_block {
    std::size_t at = 0;  // where the block's data begins in the field
    std::size_t length = 0;
};

// The first block tagged `tag` in the `size` bytes of `field`; false when
// there is none. A block that runs past the end of the field ends the walk:
// it and what follows are damaged.
bool find_extra_block(const std::uint8_t* field, std::size_t size, std::uint16_t tag, extra_block& found);

}  // namespace format::zip
