// Delivers the bits of a byte stream least significant first, as Deflate
// packs them. Holds up to 32 bits: `low_bits` in stream order (next bit in
// bit 0) and `high_bits`, the same bits reversed per byte so that the next
// 15 bits can be taken as a Huffman code, first bit most significant.
//
// The reader fills ahead of need: every reading operation first tops the
// buffer up to at least 25 bits, one `get` of the source per byte. At the
// end of the source it goes on with zero bytes that are counted as missing;
// `past_end` tells whether any bit taken so far was one of them, which is
// how the decompressor notices truncated data.
#pragma once

#include <array>
#include <cstdint>

#include "stream/filter_input.h"

namespace algorithm::flate {

// Entry b is the byte b with its eight bits in reverse order.
extern const std::array<std::uint8_t, 256> bit_reversal;

// The low `count` bits of `bits` in reverse order (count 0 to 32).
std::uint32_t reverse_bits(std::uint32_t bits, int count);

class bit_input : public stream::filter_input {
public:
    explicit bit_input(stream::input* source = nullptr) : filter_input(source) {}

    // Empties the bit buffer.
    void reset() override;

    // Reads bytes until at least 25 bits are held.
    void refill() {
        if (bit_count < 25) fill();
    }
    int get_bit() {
        refill();
        int bit = low_bits & 1;
        low_bits >>= 1;
        --bit_count;
        return bit;
    }
    // n from 0 to 23; the first bit read is bit 0 of the result.
    std::uint32_t get_bits(int n) {
        refill();
        std::uint32_t bits = low_bits & ((std::uint32_t{1} << n) - 1);
        low_bits >>= n;
        bit_count -= n;
        return bits;
    }
    // The next 15 bits, the first one as the most significant.
    std::uint32_t peek15() {
        refill();
        return (high_bits >> (bit_count - 15)) & 0x7FFF;
    }
    // Consumes n bits already seen through `peek15`.
    void drop(int n) {
        refill();
        low_bits >>= n;
        bit_count -= n;
    }
    // Skips to the next byte boundary of the source.
    void align();
    // Aligns, then returns the whole bytes still held to the source, most
    // recently read first, so that the source delivers them again in their
    // order. Bytes that lay past the end of the source are not returned.
    void give_back();

    // Some bit taken so far lay past the end of the source.
    bool past_end() const { return bit_count < 8 * missing_bytes; }

    // The held bits, for a reader that takes them over and hands them back.
    struct state {
        std::uint32_t low_bits;
        int bit_count;      // 0 to 32
        int missing_bytes;  // how many of the last held bytes lie past the end
    };
    state save() const { return {low_bits, bit_count, missing_bytes}; }
    void restore(const state& held);

private:
    // Reads bytes, one `get` each, until at least 25 bits are held.
    void fill();

    std::uint32_t low_bits = 0;
    std::uint32_t high_bits = 0;
    int bit_count = 0;
    int missing_bytes = 0;
};

}  // namespace algorithm::flate
