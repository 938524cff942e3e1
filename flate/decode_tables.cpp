#include "flate/decode_tables.h"

#include <algorithm>

#include "flate/bit_input.h"

namespace algorithm::flate {

namespace {

constexpr int max_length = 15;

struct length_code {
    std::uint16_t base;
    std::uint8_t extra;
};

// Literal/length symbols 257 to 287. 286 and 287 stand for length 3.
constexpr length_code length_codes[31] = {{3, 0},   {4, 0},   {5, 0},   {6, 0},   {7, 0},   {8, 0},  {9, 0},  {10, 0},
                                          {11, 1},  {13, 1},  {15, 1},  {17, 1},  {19, 2},  {23, 2}, {27, 2}, {31, 2},
                                          {35, 3},  {43, 3},  {51, 3},  {59, 3},  {67, 4},  {83, 4}, {99, 4}, {115, 4},
                                          {131, 5}, {163, 5}, {195, 5}, {227, 5}, {258, 0}, {3, 0},  {3, 0}};
static_assert(length_codes[27].extra == max_length_extra, "the most length extra bits");
// Symbol 284 reaches 258 with its largest extra value, as 285 does without.
static_assert(length_codes[27].base + (1u << length_codes[27].extra) - 1 == 258, "284 ends at 258");

struct distance_code {
    std::uint32_t base;
    std::uint8_t extra;
};

// 50 distance codes: codes 0 to 29 are those of RFC 1951; every further
// pair doubles the range, up to code 49 with 23 extra bits reaching 2^25.
constexpr std::array<distance_code, 50> make_distance_codes() {
    std::array<distance_code, 50> codes{};
    std::uint32_t base = 1;
    for (int code = 0; code < 50; ++code) {
        auto extra = static_cast<std::uint8_t>(code < 4 ? 0 : (code >> 1) - 1);
        codes[code] = {base, extra};
        base += std::uint32_t{1} << extra;
    }
    return codes;
}
constexpr std::array<distance_code, 50> distance_codes = make_distance_codes();
static_assert(distance_codes[29].base == 24577 && distance_codes[29].extra == 13, "RFC 1951 distance codes");
static_assert(distance_codes[31].base + (1u << 14) - 1 == 65536, "codes 30 and 31 end at 64 KiB");
static_assert(distance_codes[49].base + (1u << 23) - 1 == 1u << 25, "code 49 reaches 2^25");
static_assert(distance_codes[49].extra == max_distance_extra, "the most distance extra bits");

// Entries hold a code and its extra bits in 6 bits, a code length in 4.
static_assert(max_length + max_distance_extra < 64 && max_length < 16, "entry fields are wide enough");

// `code`, `length` bits with the first bit most significant, reversed: the
// index of its slot in stream bit order.
std::uint32_t reversed(std::uint32_t code, unsigned length) {
    return (std::uint32_t{bit_reversal[code & 0xFF]} << 8 | bit_reversal[code >> 8]) >> (16 - length);
}
static_assert(max_length <= 16, "a code reverses as two bytes");

// Fills `table` with the entries of the code of `lengths` (`count` symbols,
// an accepted code): the main table of 2^root entries first, subtables
// after it. `make(symbol, length)` gives a symbol's entry; `pointer(first,
// bits)` a subtable pointer. Returns the number of entries used.
template <class Entry, class Make, class Pointer>
std::uint32_t fill(Entry* table, unsigned root, const std::uint8_t* lengths, int count, Entry no_code, Make make,
                   Pointer pointer) {
    // Symbols in canonical order: by code length, then by symbol.
    std::array<int, max_length + 1> remaining{};  // codes of each length not yet placed
    for (int s = 0; s < count; ++s) ++remaining[lengths[s]];
    remaining[0] = 0;
    std::array<int, max_length + 2> start{};
    for (unsigned length = 1; length <= max_length; ++length) start[length + 1] = start[length] + remaining[length];
    std::array<std::uint16_t, 288> sorted{};
    for (int s = 0; s < count; ++s)
        if (lengths[s] != 0) sorted[start[lengths[s]]++] = static_cast<std::uint16_t>(s);

    // Codes of up to `root` bits, shortest first, into a table as large as
    // the current length: doubling it before the next length copies every
    // entry into all the slots that start with its code.
    int next = 0;            // the next symbol of `sorted`
    std::uint32_t code = 0;  // its canonical code, first bit most significant
    table[0] = table[1] = no_code;
    for (unsigned length = 1; length <= root; ++length) {
        if (length > 1) std::copy(table, table + (1u << (length - 1)), table + (1u << (length - 1)));
        for (; remaining[length] > 0; --remaining[length], ++code)
            table[reversed(code, length)] = make(sorted[next++], length);
        code <<= 1;
    }

    // Longer codes: a subtable for each prefix of `root` bits they share.
    std::uint32_t used = std::uint32_t{1} << root;
    std::uint32_t prefix = ~std::uint32_t{0};  // the root bits of the current subtable
    std::uint32_t sub_first = 0;
    unsigned sub_bits = 0;
    for (unsigned length = root + 1; length <= max_length; ++length, code <<= 1) {
        const unsigned tail = length - root;
        for (; remaining[length] > 0; --remaining[length], ++code) {
            if (code >> tail != prefix) {
                // A new prefix: its codes are this one and those after it
                // up to the end of the prefix's space. The subtable is as
                // deep as its longest code, found by filling the space with
                // the remaining codes in order.
                prefix = code >> tail;
                sub_bits = tail;
                int space = 1 << tail;
                for (;;) {
                    space -= remaining[root + sub_bits];
                    if (space <= 0 || root + sub_bits == max_length) break;
                    ++sub_bits;
                    space <<= 1;
                }
                sub_first = used;
                used += 1u << sub_bits;
                table[reversed(prefix, root)] = pointer(sub_first, sub_bits);
            }
            const Entry entry = make(sorted[next++], length);
            for (std::uint32_t at = reversed(code & ((1u << tail) - 1), tail); at < (1u << sub_bits); at += 1u << tail)
                table[sub_first + at] = entry;
        }
    }
    return used;
}

}  // namespace

void literal_table::build(const std::uint8_t* lengths, bool long_lengths) {
    auto make = [long_lengths](int symbol, int length) {
        const auto l = static_cast<std::uint32_t>(length);
        if (symbol < 256) return static_cast<std::uint32_t>(symbol) << 16 | 1u << literal_count_shift | l << 8 | l;
        if (symbol == 256) return exceptional | end_of_block | l << 8 | l;
        const length_code& code = length_codes[symbol - 257];
        std::uint32_t entry = std::uint32_t{code.base} << 16 | l << 8 | (l + code.extra);
        if (long_lengths && code.base + (1u << code.extra) - 1 == 258) entry |= exceptional;
        return entry;
    };
    auto pointer = [](std::uint32_t first, unsigned bits) { return first << 16 | exceptional | subtable | bits << 8; };
    used = fill(entries.data(), root_bits, lengths, 288, no_code | exceptional, make, pointer);

    // Pairs, for a block of mostly literals: the code lengths tell how
    // likely each symbol is (a code of n bits stands for a share of 2^-n),
    // and pairs pay only where literals follow literals. Elsewhere their
    // variable step costs the decoding loop more than they save.
    std::uint32_t literal_space = 0;  // in units of 2^-15 of the code space
    unsigned shortest = max_length;
    for (int s = 0; s < 256; ++s) {
        if (lengths[s] == 0) continue;
        literal_space += 1u << (max_length - lengths[s]);
        shortest = std::min<unsigned>(shortest, lengths[s]);
    }
    pairs = literal_space >= pair_eighths * (1u << max_length) / 8 && 2 * shortest <= root_bits;
    if (!pairs) return;

    // Where a literal's code leaves room in the main table's bits for a
    // second literal's whole code, the slot takes both. The slots of a
    // literal of `length` bits are its reversed code followed by every
    // pattern k of the remaining bits, and k is also the slot of what comes
    // next. A slot that already holds a pair still holds its first literal
    // as a single one, so the order of the literals does not matter.
    std::array<int, max_length + 1> count{};
    for (int s = 0; s < 288; ++s) ++count[lengths[s]];
    count[0] = 0;
    std::array<std::uint32_t, max_length + 1> next{};  // canonical code of each length
    std::uint32_t code = 0;
    for (unsigned length = 1; length <= max_length; ++length) next[length] = code = (code + count[length - 1]) << 1;
    for (int s = 0; s < 256; ++s) {
        const unsigned length = lengths[s];
        if (length == 0) continue;
        const std::uint32_t first = reversed(next[length]++, length);
        if (length + shortest > root_bits) continue;
        const std::uint32_t single = entries[first];
        for (std::uint32_t k = 0; k < 1u << (root_bits - length); ++k) {
            const std::uint32_t second = entries[k];
            const unsigned total = length + first_length_of(second);
            const std::uint32_t both =
                (single & 0xFF0000) | (second & 0xFF0000) << 8 | 2u << literal_count_shift | length << 8 | total;
            entries[first | k << length] = (second & literals) && total <= root_bits ? both : single;
        }
    }
}

void distance_table::build(const std::uint8_t* lengths) {
    auto make = [](int symbol, int length) {
        const auto l = static_cast<std::uint64_t>(length);
        const distance_code& code = distance_codes[symbol];
        return std::uint64_t{code.base} << 32 | l << 8 | (l + code.extra);
    };
    auto pointer = [](std::uint32_t first, unsigned bits) {
        return std::uint64_t{first} << 32 | exceptional | subtable | std::uint64_t{bits} << 8;
    };
    used = fill(entries.data(), root_bits, lengths, 50, exceptional, make, pointer);
}

void code_length_table::build(const std::uint8_t* lengths) {
    auto make = [](int symbol, int length) { return static_cast<std::uint16_t>(symbol << 8 | length); };
    auto pointer = [](std::uint32_t, unsigned) -> std::uint16_t { return 0; };  // codes fit the root bits
    fill(entries.data(), root_bits, lengths, 19, std::uint16_t{0}, make, pointer);
}

}  // namespace algorithm::flate
