// The finite state entropy tables of Zstandard (RFC 8878, 4.1): read from
// a table description (a distribution of probabilities), made from a
// predefined distribution, or the single state of one repeated symbol.
//
// Each state's entry says how to leave it (`bits` more bits, added to
// `next_base`) and what it stands for: the symbol's base value and the
// number of extra bits that follow it in the stream (literal and match
// lengths, offsets), or the symbol itself (Huffman weights).
#pragma once

#include <cstddef>
#include <cstdint>

namespace algorithm::zstd {

// What the symbols of a table stand for: symbol s means `base[s]` plus
// `extra[s]` bits. Without them a symbol stands for itself.
struct symbol_values {
    const std::uint32_t* base = nullptr;
    const std::uint8_t* extra = nullptr;
    unsigned max_symbol;
    unsigned max_log;  // the largest accuracy log a description may give
};

class fse_table {
public:
    struct entry {
        std::uint16_t next_base;
        std::uint8_t bits;
        std::uint8_t extra;
        std::uint32_t base;
    };
    static_assert(sizeof(entry) == 8, "an entry is one word");

    // Accuracy logs of a description: 5 to 20 by its 4 bits, at most 9 for
    // the sequence codes.
    static constexpr unsigned min_log = 5;
    static constexpr unsigned largest_log = 9;
    static constexpr std::uint32_t max_states = 1u << largest_log;
    // Huffman weights have up to 255 symbols in a description.
    static constexpr unsigned max_symbols = 256;

    // Reads a table description from [data, data + size); returns the
    // number of bytes it takes.
    std::size_t read(const std::uint8_t* data, std::size_t size, const symbol_values& values);
    // The table of a distribution of `symbols` probabilities (-1 for "less
    // than 1") summing to 2^log.
    void build(const std::int16_t* probabilities, unsigned symbols, unsigned log, const symbol_values& values);
    // One state, always `symbol`, reading no bits.
    void repeat(unsigned symbol, const symbol_values& values);

    unsigned log = 0;
    entry entries[max_states];

private:
    [[noreturn]] static void fail(const char* message);
};

}  // namespace algorithm::zstd
