// Decodes the canonical Huffman codes of Deflate (RFC 1951, 3.2.2), built
// from code lengths alone.
//
// Two structures describe one code:
// - the canonical one: `limit[L]`, the end of the codes of up to L bits in
//   the 15-bit space (first bit most significant), `offset[L]`, where the
//   symbols of length L start in `symbols`, and `length_table`, the length
//   of every code of up to 8 bits by its top 8 bits;
// - `fast`, for the decompressor's 64-bit reader: indexed by the next
//   `fast_bits` bits in stream order, each entry holds the symbol, the
//   length of the code that starts with them and, for a decoder given the
//   number of extra bits of each symbol, the code and extra bits together,
//   so that the reader consumes both in one step; 0 when the code is longer
//   (or not assigned) and the canonical structure must decide.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "flate/bit_input.h"

namespace algorithm::flate {

class huffman_decoder {
public:
    static constexpr int max_length = 15;
    static constexpr int fast_bits = 10;
    static constexpr std::uint32_t fast_mask = (1u << fast_bits) - 1;

    // A decoder of `symbol_count` symbols; it decodes nothing until built.
    // `extra_bits`, if given, holds the extra bits that follow each symbol's
    // code (static data, `symbol_count` entries).
    explicit huffman_decoder(int symbol_count, const std::uint8_t* extra_bits = nullptr);

    // Builds the code from one length per symbol (0: no code), `symbol_count`
    // of them. Throws when the lengths do not make a usable code.
    void build(const std::uint8_t* lengths);
    // A code with no symbols at all, which decodes nothing: the distance
    // code of a block that holds literals only may have no lengths.
    void build_empty();
    // Reads one code and returns its symbol.
    int decode(bit_input& bits) const;

    // Entries of `fast` and of `lookup_long`: symbol << 16 | code length << 8
    // | code length plus extra bits.
    static int symbol_of(std::uint32_t entry) { return static_cast<int>(entry >> 16); }
    static unsigned length_of(std::uint32_t entry) { return (entry >> 8) & 15; }
    static unsigned bits_of(std::uint32_t entry) { return entry & 63; }
    // The value of the extra bits of `entry`, from the bits it was looked up
    // with.
    static std::uint32_t extra_value(std::uint64_t bits, std::uint32_t entry) {
        return static_cast<std::uint32_t>((bits >> length_of(entry)) &
                                          ((std::uint64_t{1} << (bits_of(entry) - length_of(entry))) - 1));
    }
    // `bits`: the next bits (at least 15) in stream order, the first in bit
    // 0. The entry of the code they start with; 0 when no code does.
    std::uint32_t lookup(std::uint64_t bits) const {
        std::uint32_t entry = fast[bits & fast_mask];
        return entry != 0 ? entry : lookup_long(bits);
    }
    std::uint32_t lookup_long(std::uint64_t bits) const;
    // Only the table: 0 also for codes longer than `fast_bits`.
    std::uint32_t fast_entry(std::uint64_t bits) const { return fast[bits & fast_mask]; }
    // Throws the error of a bit pattern outside the assigned codes.
    [[noreturn]] void reject_codeword() const;

    int symbol_count() const { return symbol_count_; }

private:
    // The entry for `code`, 15 bits with the first bit most significant.
    std::uint32_t entry_of(std::uint32_t code) const;
    std::uint32_t make_entry(int symbol, int length) const {
        int extra = extra_bits ? extra_bits[symbol] : 0;
        return static_cast<std::uint32_t>(symbol << 16 | length << 8 | (length + extra));
    }
    void fill_fast(const std::uint8_t* lengths);

    int symbol_count_;
    const std::uint8_t* extra_bits;
    int assigned = 0;  // symbols with a code; an index at or past it is no code
    std::array<std::int32_t, max_length + 1> limit{};
    std::array<std::int32_t, max_length + 1> offset{};
    std::vector<std::uint16_t> symbols;
    std::array<std::uint8_t, 256> length_table{};
    std::array<std::uint32_t, 1 << fast_bits> fast{};
};

}  // namespace algorithm::flate
