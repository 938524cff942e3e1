// The five property bytes in front of LZMA data: one byte that packs the
// three context sizes as (pb * 5 + lp) * 9 + lc, then the dictionary size
// as a 32-bit little-endian number. Zip's method 14 carries them after its
// own 4-byte header.
#pragma once

#include <cstdint>

namespace algorithm::lzma {

struct properties {
    static constexpr std::uint32_t size = 5;
    // The packed byte of lc = 8, lp = 4, pb = 4, the largest there is.
    static constexpr std::uint8_t max_packed = (4 * 5 + 4) * 9 + 8;

    // Literal context bits: how many high bits of the previous byte choose
    // the literal coder (0 to 8).
    int lc = 3;
    // Literal position bits: how many low bits of the position also do
    // (0 to 4).
    int lp = 0;
    // Position bits: how many low bits of the position choose the match
    // and length models (0 to 4).
    int pb = 2;
    // How far back a match may reach, as the encoder declares it; any value.
    std::uint32_t dictionary_size = std::uint32_t{1} << 23;

    // Reads `size` bytes from `bytes`; a packed byte above `max_packed` is
    // an `algorithm::exception`.
    static properties parse(const std::uint8_t* bytes);
};

}  // namespace algorithm::lzma
