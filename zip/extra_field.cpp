#include "zip/extra_field.h"

#include "zip/records.h"

namespace format::zip {

bool find_extra_block(const std::uint8_t* field, std::size_t size, std::uint16_t tag, extra_block& found) {
    std::size_t at = 0;
    while (size - at >= records::extra_block_header_len) {
        const std::uint32_t id = field[at] | std::uint32_t{field[at + 1]} << 8;
        const std::uint32_t length = field[at + 2] | std::uint32_t{field[at + 3]} << 8;
        at += records::extra_block_header_len;
        if (length > size - at) return false;
        if (id == tag) {
            found = {at, length};
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace format::zip
