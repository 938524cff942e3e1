// XXH64 with seed 0, fed in pieces: the content checksum of a Zstandard
// frame is the low 32 bits of this hash of the frame's decoded bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace algorithm::zstd {

class xxhash64 {
public:
    xxhash64() { reset(); }

    void reset();
    void update(const std::uint8_t* bytes, std::size_t length);
    std::uint64_t digest() const;

private:
    static constexpr std::size_t stripe = 32;

    std::uint64_t lanes[4];
    std::uint64_t total = 0;    // bytes hashed
    std::uint8_t held[stripe];  // the start of an incomplete stripe
    std::size_t held_count = 0;
};

}  // namespace algorithm::zstd
