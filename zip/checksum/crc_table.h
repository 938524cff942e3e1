// The Zip CRC-32 table: entry n is the remainder of byte n under the
// bit-reversed polynomial 0xEDB88320 (0x04C11DB7 reflected). The CRC and the
// traditional Zip cipher both step through it.
#pragma once

#include <array>
#include <cstdint>

namespace algorithm {

namespace detail {

constexpr std::uint32_t reflect(std::uint32_t value) {
    std::uint32_t result = 0;
    for (int i = 0; i < 32; ++i)
        if (value & (1u << i)) result |= 1u << (31 - i);
    return result;
}

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    constexpr std::uint32_t r = reflect(0x04C11DB7);
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ r : c >> 1;
        table[n] = c;
    }
    return table;
}

}  // namespace detail

// Computed by the compiler, so it is ready before any code runs.
inline constexpr std::array<std::uint32_t, 256> crc_table = detail::make_crc_table();

static_assert(detail::reflect(0x04C11DB7) == 0xEDB88320);
static_assert(crc_table[1] == 0x77073096 && crc_table[255] == 0x2D02EF8D);

// One table step of the CRC register for one byte.
constexpr std::uint32_t crc_step(std::uint32_t value, std::uint8_t byte) {
    return crc_table[(value ^ byte) & 0xFF] ^ (value >> 8);
}

}  // namespace algorithm
