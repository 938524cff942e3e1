// The lookup tables of the decompressor's loops, built from the code
// lengths of a block after `huffman_decoder` has accepted them (a complete
// code, or one that fills exactly half of the code space).
//
// Both tables are indexed by the next bits of the stream in stream order
// (next bit in bit 0), as the loops' 64-bit bit buffer holds them. A main
// table of `root_bits` resolves every code of up to that many bits in one
// lookup; a longer code finds a subtable pointer there, and the subtable,
// indexed by the bits after the first `root_bits`, holds its entry. Every
// entry, main or sub, counts the whole code from the first bit, so that
// the loops consume a code and its extra bits in one shift. Slots that no
// code reaches (the empty half of a half-filled code) hold `no_code`.
//
// The main tables are sized to stay in the first-level data cache (8 KiB of
// literal/length entries, 2 KiB of distance entries); the subtables behind
// them are touched only by long, rare codes.
#pragma once

#include <array>
#include <cstdint>

namespace algorithm::flate {

// The most extra bits after a length symbol and after a distance symbol
// (code 49 of the large windows; 13 for code 29 of plain Deflate).
constexpr unsigned max_length_extra = 5;
constexpr unsigned max_distance_extra = 23;

// Subtables of a code of at most 15 bits behind a main table of `root`
// bits, for `symbols` symbols at most. A subtable of 2^b entries serves a
// prefix whose codes form a complete subtree of depth b (a half-filled
// code leaves whole prefixes empty, never half a subtree), and such a
// subtree has at least b + 1 leaves. 2^b / (b + 1) grows with b, so the
// most entries come from subtables as deep as possible, 15 - root bits,
// each spending 16 - root symbols. Canonical codes never come near it (a
// test builds the worst ones it knows), but no code can pass it.
constexpr std::uint32_t table_bound(std::uint32_t symbols, unsigned root) {
    return (std::uint32_t{1} << root) + symbols * (std::uint32_t{1} << (15 - root)) / (16 - root);
}

// Literal/length entries, 32 bits:
//   31..16  literals: the first byte in 23..16, a second one in 31..24;
//           lengths: the base length, 3 to 258; subtable pointers: the
//           subtable's first index
//   15      exceptional: end of block, no code, a subtable pointer, or a
//           length the loops must treat one by one (the 64 KiB variant's
//           258); the fast loop leaves the symbol to the careful step
//   14      subtable pointer
//   13..12  number of literals in the entry, 0 to 2
//   11..8   length of the entry's first code; subtable pointers: the
//           subtable's index bits
//   7       end of block
//   6       no code
//   5..0    bits the entry takes: all its literals' codes, or a length's
//           code and extra bits
// The low byte of an entry the fast loop keeps is just its bit count: the
// loop subtracts whole entries from a count of which only the low byte
// counts, and gives back the entries with bit 6 or 7.
// In a block of mostly literals, two literals share an entry of the main
// table when both codes fit in its `root_bits`; such an entry is also a
// valid single literal, by its first code length and first byte.
class literal_table {
public:
    static constexpr unsigned root_bits = 11;
    static constexpr std::uint32_t exceptional = 1u << 15;
    static constexpr std::uint32_t subtable = 1u << 14;
    static constexpr std::uint32_t literal_count_shift = 12;
    static constexpr std::uint32_t literals = 3u << literal_count_shift;
    static constexpr std::uint32_t end_of_block = 1u << 7;
    static constexpr std::uint32_t no_code = 1u << 6;
    static_assert(15 + max_length_extra < no_code, "a bit count leaves bits 6 and 7 clear");
    // 288 symbols, each code up to 15 bits: 2048 + 921 entries.
    static constexpr std::uint32_t size = table_bound(288, root_bits);
    static_assert(size == 2969, "the literal/length bound");

    // Pairs are made when literals hold at least 7/8 of the code space.
    static constexpr std::uint32_t pair_eighths = 7;

    // `lengths`: 288 code lengths of an accepted code. With
    // `long_lengths` (the 64 KiB variant), lengths that may come out as 258
    // and be followed by 16 more bits are made exceptional.
    void build(const std::uint8_t* lengths, bool long_lengths);

    // The main-table entry of the next bits; a subtable pointer for a code
    // longer than `root_bits`.
    std::uint32_t main_entry(std::uint64_t bits) const { return entries[bits & main_mask]; }
    // The entry a subtable pointer leads to for the same bits.
    std::uint32_t sub_entry(std::uint32_t pointer, std::uint64_t bits) const {
        return entries[(pointer >> 16) + ((bits >> root_bits) & ((1u << ((pointer >> 8) & 15)) - 1))];
    }
    // The entry of the code the next 15 or more bits start with.
    std::uint32_t lookup(std::uint64_t bits) const {
        std::uint32_t entry = main_entry(bits);
        return entry & subtable ? sub_entry(entry, bits) : entry;
    }

    // Some entries hold two literals.
    bool has_pairs() const { return pairs; }
    // Entries the last build filled, main table and subtables.
    std::uint32_t entries_used() const { return used; }

    static unsigned bits_of(std::uint32_t entry) { return entry & 63; }
    static unsigned first_length_of(std::uint32_t entry) { return (entry >> 8) & 15; }
    static unsigned literal_count_of(std::uint32_t entry) { return (entry >> literal_count_shift) & 3; }
    // The length of a length entry, from the bits it was looked up with.
    // Bits 13..8 of a length entry are its code length alone, and the
    // shifts take their count modulo 64 anyway, so no masks are needed.
    static std::uint32_t length_of(std::uint32_t entry, std::uint64_t bits) {
        return (entry >> 16) +
               static_cast<std::uint32_t>((bits & ((std::uint64_t{1} << (entry & 63)) - 1)) >> ((entry >> 8) & 63));
    }

private:
    static constexpr std::uint32_t main_mask = (1u << root_bits) - 1;
    std::array<std::uint32_t, size> entries{};
    std::uint32_t used = 0;
    bool pairs = false;
};

// Distance entries, 64 bits (a base of up to 2^25 does not fit beside the
// fields in 32):
//   63..32  the base distance; subtable pointers: the subtable's first index
//   15      exceptional: no code, or a subtable pointer
//   14      subtable pointer
//   11..8   code length; subtable pointers: the subtable's index bits
//   5..0    bits the entry takes: code and extra bits
class distance_table {
public:
    static constexpr unsigned root_bits = 8;
    static constexpr std::uint64_t exceptional = 1u << 15;
    static constexpr std::uint64_t subtable = 1u << 14;
    static_assert(15 + max_distance_extra < 64, "a bit count leaves bits 6 and 7 clear");
    // 50 symbols, each code up to 15 bits: 256 + 800 entries.
    static constexpr std::uint32_t size = table_bound(50, root_bits);
    static_assert(size == 1056, "the distance bound");

    // `lengths`: 50 code lengths of an accepted code, or all 0 for a
    // block without distances (then every slot holds no code).
    void build(const std::uint8_t* lengths);

    std::uint64_t main_entry(std::uint64_t bits) const { return entries[bits & main_mask]; }
    std::uint64_t sub_entry(std::uint64_t pointer, std::uint64_t bits) const {
        return entries[(pointer >> 32) + ((bits >> root_bits) & ((1u << ((pointer >> 8) & 15)) - 1))];
    }
    std::uint64_t lookup(std::uint64_t bits) const {
        std::uint64_t entry = main_entry(bits);
        return entry & subtable ? sub_entry(entry, bits) : entry;
    }
    std::uint32_t entries_used() const { return used; }

    static unsigned bits_of(std::uint64_t entry) { return entry & 63; }
    // Bits 13..8 of an entry that is not exceptional are its code length.
    static std::uint32_t distance_of(std::uint64_t entry, std::uint64_t bits) {
        return static_cast<std::uint32_t>(entry >> 32) +
               static_cast<std::uint32_t>((bits & ((std::uint64_t{1} << (entry & 63)) - 1)) >> ((entry >> 8) & 63));
    }

private:
    static constexpr std::uint32_t main_mask = (1u << root_bits) - 1;
    std::array<std::uint64_t, size> entries{};
    std::uint32_t used = 0;
};

// The code-length code of a dynamic header: 19 symbols of at most 7 bits,
// one lookup each. Entries: symbol << 8 | code length; 0 for no code.
class code_length_table {
public:
    static constexpr unsigned root_bits = 7;

    // `lengths`: 19 code lengths (0 to 7) of an accepted code.
    void build(const std::uint8_t* lengths);
    std::uint32_t entry(std::uint64_t bits) const { return entries[bits & ((1u << root_bits) - 1)]; }

private:
    std::array<std::uint16_t, 1u << root_bits> entries{};
};

}  // namespace algorithm::flate
