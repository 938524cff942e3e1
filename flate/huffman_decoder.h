// Decodes the canonical Huffman codes of Deflate (RFC 1951, 3.2.2), built
// from code lengths alone: `limit[L]`, the end of the codes of up to L bits
// in the 15-bit space (first bit most significant), `offset[L]`, where the
// symbols of length L start in `symbols`, and `length_table`, the length of
// every code of up to 8 bits by its top 8 bits.
//
// The rules for which lengths make a usable code live here, in `check`,
// and so do the errors of a code: the decompressor checks each block's
// lengths with `check`, decodes through the tables of decode_tables.h built
// from the same lengths, and reports a bit pattern outside the code through
// `reject_codeword`. Decoding bit by bit from the canonical structure is
// the reference those tables are tested against.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "flate/bit_input.h"

namespace algorithm::flate {

class huffman_decoder {
public:
    static constexpr int max_length = 15;

    // A decoder of `symbol_count` symbols; it decodes nothing until built.
    explicit huffman_decoder(int symbol_count);

    // Builds the code from one length per symbol (0: no code), `symbol_count`
    // of them. Throws when the lengths do not make a usable code.
    void build(const std::uint8_t* lengths);
    // Throws what `build` would throw for these lengths, builds nothing:
    // for codes that are decoded through other tables.
    static void check(const std::uint8_t* lengths, int symbol_count);
    // A code with no symbols at all, which decodes nothing: the distance
    // code of a block that holds literals only may have no lengths.
    void build_empty();
    // Reads one code and returns its symbol.
    int decode(bit_input& bits) const;

    // Entries of `lookup`: symbol << 16 | code length << 8 | code length.
    static int symbol_of(std::uint32_t entry) { return static_cast<int>(entry >> 16); }
    static unsigned length_of(std::uint32_t entry) { return (entry >> 8) & 15; }
    // `bits`: the next bits (at least 15) in stream order, the first in bit
    // 0. The entry of the code they start with; 0 when no code does.
    std::uint32_t lookup(std::uint64_t bits) const;
    // Throws the error of a bit pattern outside the assigned codes.
    [[noreturn]] static void reject_codeword();

    int symbol_count() const { return symbol_count_; }

private:
    // The entry for `code`, 15 bits with the first bit most significant.
    std::uint32_t entry_of(std::uint32_t code) const;
    static std::uint32_t make_entry(int symbol, int length) {
        return static_cast<std::uint32_t>(symbol << 16 | length << 8 | length);
    }

    int symbol_count_;
    int assigned = 0;  // symbols with a code; an index at or past it is no code
    std::array<std::int32_t, max_length + 1> limit{};
    std::array<std::int32_t, max_length + 1> offset{};
    std::vector<std::uint16_t> symbols;
    std::array<std::uint8_t, 256> length_table{};
};

}  // namespace algorithm::flate
