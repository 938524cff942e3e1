// The decompressor's lookup tables against the canonical decoder: every
// 15-bit pattern of random codes, half-filled codes, the codes that need
// the most subtable entries, and the two-literal entries of blocks of
// mostly literals.
#include "flate/decode_tables.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "flate/huffman_decoder.h"
#include "inflate_helpers.h"

namespace {

using algorithm::flate::code_length_table;
using algorithm::flate::distance_table;
using algorithm::flate::huffman_decoder;
using algorithm::flate::literal_table;
using flate_test::bytes;

// RFC 1951, 3.2.5: the base and extra bits of length symbols 257 to 285.
const int length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// The canonical decoder's entry for the code the pattern starts with.
std::uint32_t canonical(const huffman_decoder& decoder, std::uint32_t pattern) { return decoder.lookup(pattern); }

// A random complete code of `leaves` codes of up to 15 bits over `symbols`
// symbols: leaves of a code tree split at random, on random symbols.
std::vector<std::uint8_t> random_code(std::mt19937& random, int symbols, std::size_t leaves) {
    std::vector<int> depths = {1, 1};
    while (depths.size() < leaves) {
        std::size_t i = random() % depths.size();
        if (depths[i] >= 15) continue;
        depths[i]++;
        depths.insert(depths.begin() + static_cast<std::ptrdiff_t>(i), depths[i]);
    }
    std::vector<int> slots(symbols);
    for (int i = 0; i < symbols; ++i) slots[i] = i;
    std::shuffle(slots.begin(), slots.end(), random);
    std::vector<std::uint8_t> lengths(symbols, 0);
    for (std::size_t i = 0; i < depths.size(); ++i) lengths[slots[i]] = static_cast<std::uint8_t>(depths[i]);
    return lengths;
}

// Checks every pattern of a literal/length table against the canonical
// decoder of the same lengths.
void expect_literal_table_matches(const std::vector<std::uint8_t>& lengths) {
    huffman_decoder decoder(288);
    decoder.build(lengths.data());
    literal_table table;
    table.build(lengths.data(), false);
    for (std::uint32_t pattern = 0; pattern < 0x8000; ++pattern) {
        const std::uint32_t expected = canonical(decoder, pattern);
        const std::uint32_t entry = table.lookup(pattern);
        if (expected == 0) {
            ASSERT_TRUE(entry & literal_table::no_code) << "pattern " << pattern;
            continue;
        }
        const int symbol = huffman_decoder::symbol_of(expected);
        const unsigned length = huffman_decoder::length_of(expected);
        if (symbol < 256) {
            ASSERT_TRUE(entry & literal_table::literals) << "pattern " << pattern;
            ASSERT_EQ((entry >> 16) & 0xFF, static_cast<std::uint32_t>(symbol)) << "pattern " << pattern;
            ASSERT_EQ(literal_table::first_length_of(entry), length) << "pattern " << pattern;
            if (literal_table::literal_count_of(entry) == 2) {
                // The second literal is what the bits after the first code
                // decode to, and both codes fit the main table's bits.
                const std::uint32_t next = canonical(decoder, pattern >> length);
                ASSERT_EQ(entry >> 24, static_cast<std::uint32_t>(huffman_decoder::symbol_of(next)));
                ASSERT_EQ(literal_table::bits_of(entry), length + huffman_decoder::length_of(next));
                ASSERT_LE(literal_table::bits_of(entry), literal_table::root_bits);
            } else {
                ASSERT_EQ(literal_table::literal_count_of(entry), 1u);
                ASSERT_EQ(literal_table::bits_of(entry), length);
            }
        } else if (symbol == 256) {
            ASSERT_TRUE(entry & literal_table::end_of_block) << "pattern " << pattern;
            ASSERT_EQ(literal_table::bits_of(entry), length);
        } else {
            ASSERT_EQ(entry & (literal_table::literals | literal_table::exceptional), 0u) << "pattern " << pattern;
            const int code = symbol <= 285 ? symbol - 257 : 0;  // 286 and 287 are length 3
            ASSERT_EQ(literal_table::bits_of(entry), length + length_extra[code]);
            // With all extra bits set, just after the code.
            const std::uint64_t bits = pattern | ((std::uint64_t{1} << length_extra[code]) - 1) << length;
            ASSERT_EQ(literal_table::length_of(table.lookup(bits), bits),
                      static_cast<std::uint32_t>(length_base[code] + (1 << length_extra[code]) - 1));
        }
    }
}

void expect_distance_table_matches(const std::vector<std::uint8_t>& lengths) {
    huffman_decoder decoder(50);
    decoder.build(lengths.data());
    distance_table table;
    table.build(lengths.data());
    for (std::uint32_t pattern = 0; pattern < 0x8000; ++pattern) {
        const std::uint32_t expected = canonical(decoder, pattern);
        const std::uint64_t entry = table.lookup(pattern);
        if (expected == 0) {
            ASSERT_TRUE(entry & distance_table::exceptional) << "pattern " << pattern;
            continue;
        }
        ASSERT_FALSE(entry & distance_table::exceptional) << "pattern " << pattern;
        const int symbol = huffman_decoder::symbol_of(expected);
        const unsigned length = huffman_decoder::length_of(expected);
        const unsigned extra = symbol < 4 ? 0 : symbol / 2 - 1;
        std::uint32_t base = 1;
        for (int c = 0; c < symbol; ++c) base += 1u << (c < 4 ? 0 : c / 2 - 1);
        ASSERT_EQ(distance_table::bits_of(entry), length + extra) << "pattern " << pattern;
        // With all extra bits clear, then all set, just after the code.
        const std::uint64_t code_only = pattern & ((1u << length) - 1);
        ASSERT_EQ(distance_table::distance_of(table.lookup(code_only), code_only), base) << "pattern " << pattern;
        const std::uint64_t bits = pattern | ((std::uint64_t{1} << extra) - 1) << length;
        ASSERT_EQ(distance_table::distance_of(table.lookup(bits), bits), base + (1u << extra) - 1);
    }
}

TEST(decode_tables, literal_table_agrees_with_canonical_decoding_for_every_pattern) {
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) expect_literal_table_matches(random_code(random, 288, 40 + 20 * round));
}

TEST(decode_tables, distance_table_agrees_with_canonical_decoding_for_every_pattern) {
    std::mt19937 random(8);
    for (int round = 0; round < 12; ++round) expect_distance_table_matches(random_code(random, 50, 4 + 4 * round));
}

TEST(decode_tables, fixed_codes_agree_with_canonical_decoding) {
    std::vector<std::uint8_t> literals(288, 8);
    std::fill(literals.begin() + 144, literals.begin() + 256, 9);
    std::fill(literals.begin() + 256, literals.begin() + 280, 7);
    expect_literal_table_matches(literals);
    std::vector<std::uint8_t> distances(50, 0);
    std::fill(distances.begin(), distances.begin() + 32, 5);
    expect_distance_table_matches(distances);
}

// A code that fills half of the space leaves the other half without any
// code: those slots must say so, not hold what an earlier build left.
TEST(decode_tables, half_filled_codes_leave_the_empty_half_without_code) {
    std::vector<std::uint8_t> complete(288, 0);
    for (int s = 0; s < 256; ++s) complete[s] = 8;
    std::vector<std::uint8_t> half(288, 0);
    half[256] = 1;
    literal_table literals;
    literals.build(complete.data(), false);
    literals.build(half.data(), false);
    EXPECT_TRUE(literals.lookup(0) & literal_table::end_of_block);
    for (std::uint32_t pattern = 1; pattern < 0x8000; pattern += 2)
        ASSERT_TRUE(literals.lookup(pattern) & literal_table::no_code) << "pattern " << pattern;

    std::vector<std::uint8_t> distances(50, 0);
    distances[3] = distances[9] = 2;  // 00 and 01: half the space
    expect_distance_table_matches(distances);
    distance_table none;
    none.build(std::vector<std::uint8_t>(50, 0).data());
    for (std::uint32_t pattern = 0; pattern < 0x8000; pattern += 97)
        ASSERT_TRUE(none.lookup(pattern) & distance_table::exceptional);
}

// What the subtables of a code take: each prefix of `root` bits that
// starts longer codes gets 2^(longest - root) entries. Computed here from
// the canonical codes, apart from the tables.
std::uint32_t expected_entries(const std::vector<std::uint8_t>& lengths, unsigned root) {
    auto codes = flate_test::canonical_codes(std::vector<int>(lengths.begin(), lengths.end()));
    std::map<std::uint32_t, unsigned> deepest;  // prefix -> longest code under it
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] <= root) continue;
        auto& longest = deepest[codes[s] >> (lengths[s] - root)];
        longest = std::max<unsigned>(longest, lengths[s]);
    }
    std::uint32_t entries = 1u << root;
    for (auto [prefix, longest] : deepest) entries += 1u << (longest - root);
    return entries;
}

// Subtables are sized by filling each prefix's space with the codes in
// canonical order; a slip would overlap them or run past the array, whose
// size is a computed bound. Random codes with many long codes, and codes
// built to spend few symbols per deep subtable.
TEST(decode_tables, subtables_are_as_deep_as_their_longest_code_and_fit_the_bound) {
    std::mt19937 random(10);
    std::uint32_t most_literal = 0, most_distance = 0;
    for (int round = 0; round < 200; ++round) {
        auto literals = random_code(random, 288, 100 + round % 189);
        literal_table literal_entries;
        literal_entries.build(literals.data(), false);
        ASSERT_EQ(literal_entries.entries_used(), expected_entries(literals, literal_table::root_bits));
        most_literal = std::max(most_literal, literal_entries.entries_used());
        auto distances = random_code(random, 50, 10 + round % 41);
        distance_table distance_entries;
        distance_entries.build(distances.data());
        ASSERT_EQ(distance_entries.entries_used(), expected_entries(distances, distance_table::root_bits));
        most_distance = std::max(most_distance, distance_entries.entries_used());
    }
    EXPECT_LE(most_literal, literal_table::size);
    EXPECT_LE(most_distance, distance_table::size);

    // Codes of 1 to 10 bits leave two slots of 11 bits for two codes each
    // of 12, 13 and 14 bits and four of 15. In canonical order the two of
    // 12 bits fill the first slot (a subtable of 2), the rest the second
    // (a subtable of 16).
    std::vector<std::uint8_t> staircase(288, 0);
    int s = 0;
    for (int length = 1; length <= 10; ++length) staircase[s++] = static_cast<std::uint8_t>(length);
    for (int length : {12, 13, 14, 15, 15, 12, 13, 14, 15, 15}) staircase[s++] = static_cast<std::uint8_t>(length);
    huffman_decoder::check(staircase.data(), 288);
    literal_table stairs;
    stairs.build(staircase.data(), false);
    EXPECT_EQ(stairs.entries_used(), expected_entries(staircase, literal_table::root_bits));
    EXPECT_EQ(stairs.entries_used(), 2048u + 2 + 16);
    expect_literal_table_matches(staircase);

    // One code each of 1 to 7 bits leaves 256 units of 15 bits, 16 slots of
    // 11: 24 codes of 14 bits fill 3 of them (subtables of 8), 208 of 15
    // bits the other 13 (subtables of 16).
    std::vector<std::uint8_t> crowded(288, 0);
    s = 0;
    for (int length = 1; length <= 7; ++length) crowded[s++] = static_cast<std::uint8_t>(length);
    for (int i = 0; i < 24; ++i) crowded[s++] = 14;
    for (int i = 0; i < 208; ++i) crowded[s++] = 15;
    huffman_decoder::check(crowded.data(), 288);
    literal_table crowd;
    crowd.build(crowded.data(), false);
    EXPECT_EQ(crowd.entries_used(), expected_entries(crowded, literal_table::root_bits));
    EXPECT_EQ(crowd.entries_used(), 2048u + 3 * 8 + 13 * 16);
    expect_literal_table_matches(crowded);
}

// Pairs pay only where literals follow literals: a code whose literals
// hold 7/8 of the space gets them, a code with common matches does not.
TEST(decode_tables, two_literal_entries_only_for_codes_of_mostly_literals) {
    std::vector<std::uint8_t> literals(288, 0);
    for (int s = 0; s < 16; ++s) literals['a' + s] = 4;  // all of the space but what 256 takes...
    literals['a'] = 5;
    literals[256] = 5;  // ...which is 1/32
    huffman_decoder::check(literals.data(), 288);
    literal_table mostly_literals;
    mostly_literals.build(literals.data(), false);
    EXPECT_TRUE(mostly_literals.has_pairs());
    expect_literal_table_matches(literals);

    for (int s = 0; s < 8; ++s) literals['a' + s] = 5;
    for (int s = 8; s < 16; ++s) literals['a' + s] = 4;
    literals[256] = 5;
    literals[257] = 4;
    for (int s = 258; s <= 262; ++s) literals[s] = 5;
    // Literals: 8/32 + 8/16 = 3/4 of the space; 256 to 262 the rest.
    huffman_decoder::check(literals.data(), 288);
    literal_table with_matches;
    with_matches.build(literals.data(), false);
    EXPECT_FALSE(with_matches.has_pairs());
    expect_literal_table_matches(literals);
}

TEST(decode_tables, code_length_table_agrees_with_canonical_decoding) {
    std::mt19937 random(9);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint8_t> lengths;
        do lengths = random_code(random, 19, 2 + round % 17);
        while (*std::max_element(lengths.begin(), lengths.end()) > 7);
        huffman_decoder decoder(19);
        decoder.build(lengths.data());
        code_length_table table;
        table.build(lengths.data());
        for (std::uint32_t pattern = 0; pattern < 128; ++pattern) {
            const std::uint32_t expected = canonical(decoder, pattern);
            ASSERT_EQ(table.entry(pattern), static_cast<std::uint32_t>(huffman_decoder::symbol_of(expected) << 8 |
                                                                       huffman_decoder::length_of(expected)));
        }
    }
}

}  // namespace
