// Inflate: turns a Deflate stream (RFC 1951) read from a source input into
// its bytes. Push mode, `copy_to`, decodes the whole stream into an output;
// pull mode, `read`/`get`/`skip`, decodes on demand.
//
// Besides standard Deflate with its 32 KiB window it takes windows of 2^10
// to 2^25 bytes (`extent` 10 to 25) with up to 50 distance codes, the
// 64 KiB variant whose length 258 is followed by 16 bits of length minus 3
// (extent 16 given to the constructor), and a form that names its extent
// in a leading byte (extent 0).
//
// The compressed bytes come through a 65536-byte block buffer, so the
// decoder reads its source ahead. `finish` returns what it read but did
// not decode: the bytes of the block buffer, and with `give_back_bits` also
// the whole bytes still held by the bit reader, so that the source then
// stands on the first byte after the compressed data. Without it the source
// stands up to 3 bytes further on.
//
// Pull mode decodes at least 262144 bytes per refill and stops inside a
// block once it has them, so its memory does not grow with a long block.
//
// Every failure is an `algorithm::exception` and leaves the decompressor
// unusable; the source's position is then undefined.
//
// Inputs taken beyond what RFC 1951 (and zlib) accept, each on purpose; the
// differential fuzzer against zlib (fuzz/inflate.cpp) excuses exactly these:
// - literal/length symbols 286 and 287, which the fixed code reaches, stand
//   for length 3 (zlib: "invalid literal/length code");
// - 288 literal/length codes, and 31 or 32 distance codes, in a dynamic
//   header (zlib: "too many length or distance symbols");
// - a code that fills exactly half of its code space, in every table, the
//   code-length code included; the RFC allows that only for a single
//   distance code of one bit (zlib: "invalid code lengths set", "invalid
//   literal/lengths set", "invalid distances set");
// - a repeat of code lengths that runs past the end of the table stops at
//   the end (zlib: "invalid bit length repeat").
// A dynamic block whose distance code has no lengths at all decodes as long
// as it holds literals only, as the RFC and zlib have it.
#pragma once

#include <array>
#include <cstdint>

#include "flate/bit_input.h"
#include "flate/decode_tables.h"
#include "flate/huffman_decoder.h"
#include "flate/window.h"
#include "stream/buffered_input.h"
#include "stream/generator_input.h"

namespace algorithm::flate {

class decompressor : public stream::generator_input {
public:
    static constexpr std::uint32_t block_size = 65536;

    // `source` must outlive the decompressor. `extent`: log2 of the window
    // size, or 0 to read it from the first byte of the source.
    decompressor(stream::input& source, int extent, bool give_back_bits);

    // Decodes the rest of the stream into `target` and flushes it; returns
    // the number of bytes written.
    stream::size_type copy_to(stream::output& target) override;
    // Returns the read-ahead to the source; may be called more than once.
    void finish() override;

    // The fast loops, compiled for any processor and, on x86-64, once more
    // with BMI2's shifts and bit extraction. The BMI2 loops are chosen once,
    // where the processor has BMI2 and they decode a known stream right.
    enum class fast_loops { portable, bmi2 };
    static fast_loops active();
    // Selects the loops of decompressors made from now on; returns false
    // (and changes nothing) when the processor cannot run them. For tests
    // and benchmarks.
    static bool use(fast_loops which);

protected:
    stream::size_type produce(stream::size_type minimum) override;

private:
    enum class outcome { block_end, stopped, input_low };
    struct cursor;

    bool decode_block(stream::size_type stop_at);
    void read_stored_block();
    void read_fixed_codes();
    void read_dynamic_codes();
    outcome decode_data(stream::size_type stop_at);
    // The careful step, symbol by symbol, around the fast loop; `careful`:
    // the source has ended and its last bytes are read one at a time.
    template <bool careful>
    outcome run(cursor& at, stream::size_type stop_at);
    // With the loops given, for the check of the BMI2 loops.
    decompressor(stream::input& source, int extent, bool give_back_bits, fast_loops loops);
    static fast_loops choose();
    // The fast loop, for tables with or without two-literal entries, in the
    // kind of `loops`; itself inlined into one function per kind.
    void run_fast(cursor& at);
    template <bool pairs>
    void fast_rounds(cursor& at);
    template <bool pairs>
    [[gnu::aligned(64)]] void fast_portable(cursor& at);
#if defined(__x86_64__)
    template <bool pairs>
    [[gnu::aligned(64), gnu::target("bmi2")]] void fast_bmi2(cursor& at);
#endif
    // The bit reader's state as a cursor on the block buffer, and back.
    cursor take_over_bits();
    void hand_back_bits(cursor& at);

    static std::uint32_t window_size_for(int extent);
    std::uint32_t take(int n);
    void check_input() const;
    [[noreturn]] static void fail(const char* message);

    bool explicit_extent;
    bool give_back_bits;
    std::uint32_t window_size;
    bool long_lengths;  // the 64 KiB variant: 258 is followed by 16 bits
    fast_loops loops;
    stream::buffered_input block_input;
    bit_input bits;
    bool finished = false;
    bool in_block = false;      // a Huffman block's data is partly decoded
    bool last_block = false;    // that block has BFINAL set
    bool fixed_ready = false;   // the tables hold the fixed codes
    bool source_ended = false;  // the source delivered its last byte

    // The current block's codes: their lengths, checked by `huffman_decoder`
    // and decoded through tables.
    std::array<std::uint8_t, 288> literal_lengths{};
    int literal_count = 0;
    literal_table literals;
    std::array<std::uint8_t, 50> distance_lengths{};
    int distance_count = 0;
    distance_table distances;
    std::array<std::uint8_t, 19> length_lengths{};
    code_length_table length_codes;
    int length_count = 0;

    flate::window window;
};

}  // namespace algorithm::flate
