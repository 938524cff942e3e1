#include "io/item_info.h"

namespace io {

std::uint32_t item_info::attribute_word() const {
    std::uint32_t word = has_attributes ? attributes : archive_attribute;
    if (has_read_only && read_only) return word | read_only_attribute;
    return word & ~read_only_attribute;
}

}  // namespace io
