#include "stream/endian_input.h"

#include <cstring>

namespace stream {

namespace {

bool machine_is_big_endian() {
    const std::uint16_t probe = 0x0102;
    std::uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 0x01;
}

}  // namespace

endian_input::endian_input(input& source) : forward_input(&source), host_big_endian(machine_is_big_endian()) {}

std::uint64_t little_endian_input::read_field(unsigned bytes) {
    if (!host_big_endian) {
        // One read straight into the low-order bytes of a zeroed value.
        std::uint64_t value = 0;
        read(&value, bytes);
        return value;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= std::uint64_t(static_cast<std::uint8_t>(get())) << (8 * i);
    return value;
}

}  // namespace stream
