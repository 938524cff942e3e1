#include "flate/huffman_decoder.h"

#include <algorithm>

#include "errors/exception.h"

namespace algorithm::flate {

namespace {

constexpr std::int32_t code_space = 1 << huffman_decoder::max_length;

// Entries: 16 bits of symbol, then the code length (up to 15) twice.
static_assert(huffman_decoder::max_length < 256, "a code length fits its field");

[[noreturn]] void fail(const char* message) {
    throw algorithm::exception(message, "algorithm::flate::huffman_decoder");
}

}  // namespace

huffman_decoder::huffman_decoder(int symbol_count) : symbol_count_(symbol_count), symbols(symbol_count) {}

void huffman_decoder::check(const std::uint8_t* lengths, int symbol_count) {
    std::array<std::int32_t, max_length + 1> count{};
    for (int j = 0; j < symbol_count; ++j) {
        if (lengths[j] > max_length) fail("codeword is too long");
        ++count[lengths[j]];
    }
    std::int32_t h = 0;
    for (int length = 1; length <= max_length; ++length) {
        h += count[length] << (max_length - length);
        if (h > code_space) fail("invalid codeword size set");
    }
    // A complete code, or any code that fills exactly half of the space: a
    // single 1-bit code (what RFC 1951 allows for one distance code) and
    // every other half-filled code alike, in every table (see the list in
    // decompressor.h).
    if (h != code_space && h != code_space / 2) fail("incomplete codeword size set");
}

void huffman_decoder::build(const std::uint8_t* lengths) {
    assigned = 0;  // unusable until this build succeeds
    std::array<std::int32_t, max_length + 1> count{};
    for (int j = 0; j < symbol_count_; ++j) {
        if (lengths[j] > max_length) fail("codeword is too long");
        ++count[lengths[j]];
    }
    count[0] = 0;

    std::array<std::int32_t, max_length + 1> next{};
    std::int32_t h = 0;
    std::int32_t f = 0;
    for (int length = 1; length <= max_length; ++length) {
        h += count[length] << (max_length - length);
        if (h > code_space) fail("invalid codeword size set");
        limit[length] = h;
        offset[length] = offset[length - 1] + count[length - 1];
        next[length] = offset[length];
        if (length <= 8) {
            std::fill(length_table.begin() + f, length_table.begin() + (h >> 7), static_cast<std::uint8_t>(length));
            f = h >> 7;
        }
    }
    // A complete code, or any code that fills exactly half of the space: a
    // single 1-bit code (what RFC 1951 allows for one distance code) and
    // every other half-filled code alike, in every table (see the list in
    // decompressor.h).
    if (h != code_space && h != code_space / 2) fail("incomplete codeword size set");

    for (int j = 0; j < symbol_count_; ++j)
        if (lengths[j] != 0) symbols[next[lengths[j]]++] = static_cast<std::uint16_t>(j);
    assigned = offset[max_length] + count[max_length];
}

void huffman_decoder::build_empty() {
    // No code is assigned: every lookup finds no entry, and decoding fails.
    assigned = 0;
    limit.fill(0);
    offset.fill(0);
    length_table.fill(0);
}

std::uint32_t huffman_decoder::entry_of(std::uint32_t c) const {
    auto code = static_cast<std::int32_t>(c);
    int length;
    if (code < limit[8])
        length = length_table[code >> 7];
    else if (code < limit[10])
        length = code < limit[9] ? 9 : 10;
    else if (code < limit[11])
        length = 11;
    else if (code < limit[12])
        length = 12;
    else
        for (length = 13; length < max_length && code >= limit[length];) ++length;
    std::int32_t i = ((code - limit[length - 1]) >> (max_length - length)) + offset[length];
    // Past the assigned codes lies the unused half of a half-filled code.
    if (i >= assigned) return 0;
    return make_entry(symbols[i], length);
}

std::uint32_t huffman_decoder::lookup(std::uint64_t bits) const {
    return entry_of(reverse_bits(static_cast<std::uint32_t>(bits & 0x7FFF), max_length));
}

void huffman_decoder::reject_codeword() { fail("too many codewords"); }

int huffman_decoder::decode(bit_input& bits) const {
    std::uint32_t entry = entry_of(bits.peek15());
    if (entry == 0) {
        bits.drop(max_length);
        reject_codeword();
    }
    bits.drop(length_of(entry));
    return symbol_of(entry);
}

}  // namespace algorithm::flate
