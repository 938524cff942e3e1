// The Huffman code of compressed literals (RFC 8878, 4.2): read from a
// tree description (weights given directly or FSE-compressed), checked to
// be a complete code of at most 11 bits, and decoded from one or four
// backward bit streams.
//
// The decoding table has 2^11 entries whatever the code's longest length,
// so that every lookup takes the same 11 bits: entry = symbol << 8 | code
// length. A symbol of weight w fills 2^(w - 1) slots of a code of
// `max_bits`, and 2^(11 - max_bits) times that here; every slot is filled,
// since only complete codes are accepted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zstd/bit_reader.h"

namespace algorithm::zstd {

class huffman_table {
public:
    static constexpr unsigned max_bits = 11;
    static constexpr std::uint32_t size = 1u << max_bits;
    // A description gives up to 255 weights; the last symbol's is implied.
    static constexpr unsigned max_symbols = 256;

    // Reads a tree description from [data, data + size); returns the number
    // of bytes it takes.
    std::size_t read(const std::uint8_t* data, std::size_t size);
    // Decodes `count` literals into `out` from one stream, or from four
    // streams behind their 6-byte jump table, taking exactly
    // [data, data + size). `out` has room for `count` bytes.
    void decode_one(const std::uint8_t* data, std::size_t size, std::uint8_t* out, std::size_t count) const;
    void decode_four(const std::uint8_t* data, std::size_t size, std::uint8_t* out, std::size_t count) const;

    // A table has been read in this frame (treeless literals use it).
    bool ready = false;
    // The four-stream loop compiled with BMI2, whose shifts take their
    // count from any register (four streams, four counts); the
    // decompressor chooses (loop_choice.cpp).
    bool bmi2 = false;

private:
    void four_streams_portable(bit_reader* r, std::uint8_t** outs, std::uint8_t* od_end) const;
#if defined(__x86_64__)
    [[gnu::target("bmi2")]] void four_streams_bmi2(bit_reader* r, std::uint8_t** outs, std::uint8_t* od_end) const;
#endif
    void four_streams(bit_reader* r, std::uint8_t** outs, std::uint8_t* od_end) const;
    void build(const std::uint8_t* weights, unsigned count);
    [[noreturn]] static void fail(const char* message);

    std::uint16_t entries[size];
};

}  // namespace algorithm::zstd
