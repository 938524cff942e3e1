// The bit reader and the canonical Huffman decoder: code construction and
// its errors, decoding through both lookup paths, and the bytes the bit
// reader returns to its source.
#include "flate/huffman_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "inflate_helpers.h"

namespace {

using algorithm::flate::bit_input;
using algorithm::flate::huffman_decoder;
using flate_test::bit_writer;
using flate_test::bytes;

std::vector<std::uint8_t> fixed_literal_lengths() {
    std::vector<std::uint8_t> lengths(288, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    return lengths;
}

std::string build_failure(std::vector<std::uint8_t> lengths, int symbols) {
    lengths.resize(symbols);
    huffman_decoder decoder(symbols);
    return flate_test::failure_of([&] { decoder.build(lengths.data()); });
}

// Decodes the symbols of `stream` one after the other.
std::vector<int> decode_all(const huffman_decoder& decoder, const bytes& stream, int count) {
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    bit_input bits(&source);
    std::vector<int> symbols;
    for (int i = 0; i < count; ++i) symbols.push_back(decoder.decode(bits));
    return symbols;
}

TEST(huffman_decoder, fixed_literal_code_decodes_end_of_block_and_every_length_class) {
    huffman_decoder decoder(288);
    auto lengths = fixed_literal_lengths();
    decoder.build(lengths.data());
    bit_writer w;
    w.fixed_literal(256).fixed_literal('A').fixed_literal(200).fixed_literal(287).fixed_literal(0);
    EXPECT_EQ(decode_all(decoder, w.finish(), 5), (std::vector<int>{256, 'A', 200, 287, 0}));
}

TEST(huffman_decoder, symbols_of_one_length_get_consecutive_codes_in_symbol_order) {
    // Lengths {2, 1, 3, 3}: symbol 1 is 0, symbol 0 is 10, symbols 2 and 3
    // are 110 and 111.
    huffman_decoder decoder(4);
    std::uint8_t lengths[] = {2, 1, 3, 3};
    decoder.build(lengths);
    bit_writer w;
    w.code(0b111, 3).code(0b0, 1).code(0b110, 3).code(0b10, 2);
    EXPECT_EQ(decode_all(decoder, w.finish(), 4), (std::vector<int>{3, 1, 2, 0}));
}

TEST(huffman_decoder, fifteen_bit_code_straddling_bytes) {
    // Lengths 1, 2, ..., 14, 15, 15: a complete code whose two longest
    // codes are fourteen ones followed by 0 or 1.
    std::vector<std::uint8_t> lengths;
    for (int l = 1; l <= 15; ++l) lengths.push_back(static_cast<std::uint8_t>(l));
    lengths.push_back(15);
    huffman_decoder decoder(16);
    decoder.build(lengths.data());
    bit_writer w;
    w.field(0, 5);  // the code starts at bit 5 of the first byte
    w.code(0x7FFE, 15).code(0x7FFF, 15).code(0x3FFE, 14);
    bytes stream = w.finish();
    stream::array_input in(stream.data(), static_cast<std::uint32_t>(stream.size()));
    bit_input bits(&in);
    bits.get_bits(5);
    EXPECT_EQ(decoder.decode(bits), 14);
    EXPECT_EQ(decoder.decode(bits), 15);
    EXPECT_EQ(decoder.decode(bits), 13);
}

TEST(huffman_decoder, build_errors) {
    EXPECT_EQ(build_failure({1, 1, 1}, 3), "algorithm::flate::huffman_decoder: invalid codeword size set");
    EXPECT_EQ(build_failure({2, 2, 2}, 3), "algorithm::flate::huffman_decoder: incomplete codeword size set");
    EXPECT_EQ(build_failure({0, 0, 0}, 3), "algorithm::flate::huffman_decoder: incomplete codeword size set");
    // Too long is reported at once, before an oversubscription further on.
    EXPECT_EQ(build_failure({1, 1, 1, 16}, 4), "algorithm::flate::huffman_decoder: codeword is too long");
    EXPECT_EQ(build_failure({16, 1, 1, 1}, 4), "algorithm::flate::huffman_decoder: codeword is too long");
}

TEST(huffman_decoder, half_filled_code_decodes_its_codes) {
    // One distance code of length 1 takes half of the code space.
    std::vector<std::uint8_t> lengths(50, 0);
    lengths[7] = 1;
    huffman_decoder decoder(50);
    decoder.build(lengths.data());
    bit_writer w;
    w.code(0, 1).code(0, 1);
    EXPECT_EQ(decode_all(decoder, w.finish(), 2), (std::vector<int>{7, 7}));
}

TEST(huffman_decoder, half_filled_code_rejects_patterns_outside_its_codes_instead_of_leftovers) {
    // An earlier complete build leaves symbols behind the new half-filled
    // code's entries; the pattern 1 must not return one of them.
    huffman_decoder decoder(50);
    std::vector<std::uint8_t> complete(50, 0);
    for (int i = 0; i < 32; ++i) complete[i] = 5;
    decoder.build(complete.data());
    std::vector<std::uint8_t> half(50, 0);
    half[3] = 2;  // two codes of length 2: 00 and 01, half the space
    half[9] = 2;
    decoder.build(half.data());
    bit_writer w;
    w.code(0b01, 2).code(0b1, 1).field(0, 20);
    bytes stream = w.finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    bit_input bits(&source);
    EXPECT_EQ(decoder.decode(bits), 9);
    EXPECT_EQ(flate_test::failure_of([&] { decoder.decode(bits); }),
              "algorithm::flate::huffman_decoder: too many codewords");
    EXPECT_EQ(decoder.lookup(0x7FFFu), 0u);
}

TEST(huffman_decoder, table_lookup_agrees_with_canonical_decoding_for_every_pattern) {
    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        // Random complete codes with lengths up to 15: split leaves of a
        // code tree at random.
        std::vector<int> leaves = {1, 1};
        while (leaves.size() < 60) {
            std::size_t i = random() % leaves.size();
            if (leaves[i] >= 15) continue;
            leaves[i]++;
            leaves.insert(leaves.begin() + i, leaves[i]);
        }
        std::vector<std::uint8_t> lengths(288, 0);
        std::vector<int> slots(288);
        for (int i = 0; i < 288; ++i) slots[i] = i;
        std::shuffle(slots.begin(), slots.end(), random);
        for (std::size_t i = 0; i < leaves.size(); ++i) lengths[slots[i]] = static_cast<std::uint8_t>(leaves[i]);
        huffman_decoder decoder(288);
        decoder.build(lengths.data());
        for (std::uint32_t pattern = 0; pattern < 0x8000; pattern += 7) {
            bytes stream = {static_cast<std::uint8_t>(pattern), static_cast<std::uint8_t>(pattern >> 8), 0, 0};
            stream::array_input source(stream.data(), 4);
            bit_input bits(&source);
            int symbol = decoder.decode(bits);
            std::uint32_t entry = decoder.lookup(pattern);
            ASSERT_EQ(huffman_decoder::symbol_of(entry), symbol) << "pattern " << pattern;
            ASSERT_EQ(huffman_decoder::length_of(entry), lengths[symbol]);
        }
    }
}

TEST(bit_input, fields_come_least_significant_bit_first) {
    bytes stream = {0xB5, 0x3C, 0xFF};  // 1011 0101, 0011 1100
    stream::array_input source(stream.data(), 3);
    bit_input bits(&source);
    EXPECT_EQ(bits.get_bit(), 1);
    EXPECT_EQ(bits.get_bits(3), 0b010u);
    EXPECT_EQ(bits.get_bits(8), 0xCBu);       // 1011 then the low nibble 1100
    EXPECT_EQ(bits.peek15() >> 11, 0b1100u);  // 0011 reversed
    bits.drop(4);
    EXPECT_EQ(bits.get_bits(8), 0xFFu);
}

TEST(bit_input, give_back_after_three_bits_returns_the_following_whole_bytes) {
    bytes stream = {1, 2, 3, 4, 5, 6, 7, 8};
    stream::array_input source(stream.data(), 8);
    bit_input bits(&source);
    bits.get_bits(3);
    EXPECT_EQ(source.position(), 4u);  // filled ahead to 32 bits
    bits.give_back();
    EXPECT_EQ(source.position(), 1u);
    EXPECT_EQ(source.get(), 2);
}

TEST(bit_input, reading_past_the_end_is_noticed_and_nothing_is_given_back_for_it) {
    bytes stream = {0xAA, 0x55};
    stream::array_input source(stream.data(), 2);
    bit_input bits(&source);
    EXPECT_EQ(bits.get_bits(16), 0x55AAu);
    EXPECT_FALSE(bits.past_end());
    bits.give_back();
    EXPECT_EQ(source.position(), 2u);
    bits.get_bit();
    EXPECT_TRUE(bits.past_end());
}

}  // namespace
