// LZMA: turns the range-coded data that follows the five property bytes
// (as in Zip's method 14, or LZMA1 of other containers) into its bytes.
// Push mode, `copy_to`, decodes the whole stream into an output; pull mode,
// `read`/`get`/`skip`, decodes on demand, at least 262144 bytes per refill,
// stopping between two symbols once it has them.
//
// The end of the data is known one of two ways:
// - without an end marker, `uncompressed_size` bytes are decoded; the range
//   coder must then be at its end, or an end marker follow at once. A
//   marker before that size is "data shorter than the declared size".
// - with one, decoding stops at the marker, and with a known
//   `uncompressed_size` (an upper bound then) a symbol that would write more
//   fails before it is written. Data that ends without its marker fails as
//   "unexpected end of compressed data".
// Either way the range coder must end with a code of 0, as every encoder
// leaves it.
//
// The dictionary is allocated once, for the history the entry can use:
// the declared dictionary size, at least 4 KiB, and no more than the
// uncompressed size (at least 4 KiB) when that is known. More than
// `max_dictionary` fails as "dictionary too large" before any allocation.
// Memory is that, the probability table (0x300 << (lc + lp) entries and
// 1846 more, two bytes each), a 64 KiB block buffer and, in pull mode, the
// bytes of one refill.
//
// The compressed bytes come through the block buffer, so the decoder reads
// its source ahead. `finish` returns what it read but did not decode, so
// that the source then stands on the first byte after the compressed data
// (a data descriptor, say).
//
// Every failure of the data is an `algorithm::exception` and leaves the
// decompressor unusable; the source's position is then undefined.
#pragma once

#include <cstdint>
#include <memory>

#include "lzma/dictionary.h"
#include "lzma/properties.h"
#include "stream/buffered_input.h"
#include "stream/generator_input.h"

namespace algorithm::lzma {

class decompressor : public stream::generator_input {
public:
    static constexpr std::uint32_t block_size = 65536;
    static constexpr std::uint32_t max_dictionary = std::uint32_t{1} << 27;
    static constexpr std::uint32_t min_dictionary = 4096;

    // `source` must outlive the decompressor and stand on the first byte
    // after the properties. `uncompressed_size` may be `stream::unknown_size`
    // only with `end_marker`.
    decompressor(stream::input& source, const properties& p, stream::size_type uncompressed_size, bool end_marker);

    // Decodes the rest of the stream into `target` and flushes it; returns
    // the number of bytes written.
    stream::size_type copy_to(stream::output& target) override;
    // Returns the read-ahead to the source; may be called more than once.
    void finish() override;

protected:
    stream::size_type produce(stream::size_type minimum) override;

private:
    enum class outcome { going, marker };
    struct cursor;

    static std::uint32_t history_for(const properties& p, stream::size_type uncompressed_size, bool end_marker);
    static std::size_t model_count(const properties& p);
    void start();
    void decode(stream::size_type stop_at);
    // One symbol with every check (`careful`), or symbols while the fast
    // loop's margins hold, with `out_fast_end` the output's.
    template <bool careful>
    outcome run(cursor& at, const std::uint8_t* out_fast_end);
    std::uint8_t* fast_output_end(std::uint8_t* out, stream::size_type stop_at);
    void top_up(cursor& at);
    static std::uint32_t input_left(const cursor& at);
    cursor take_cursor();
    void keep_cursor(const cursor& at);
    void end_at_marker(const cursor& at);
    [[noreturn]] static void fail(const char* message);
    [[noreturn]] static void distance_fault(std::uint32_t distance, std::uint32_t decoded);

    // First, so that its checks come before any allocation.
    const std::uint32_t history;
    const std::uint32_t lc;
    const std::uint32_t lp_mask;
    const std::uint32_t pb_mask;
    const stream::size_type uncompressed_size;
    const bool end_marker;
    stream::buffered_input block_input;
    // Every adaptive model in one table: the fixed ones, then the literal
    // coders.
    std::unique_ptr<std::uint16_t[]> probabilities;
    dictionary ring;

    // The decoder's state between calls.
    std::uint32_t range = 0;
    std::uint32_t code = 0;
    std::uint32_t state = 0;
    std::uint32_t reps[4] = {};  // the last four distances, minus one
    std::uint8_t* out;
    bool started = false;       // the range coder has its first five bytes
    bool finished = false;      // the end is reached and checked
    bool source_ended = false;  // the source delivered its last byte
    bool broken = false;        // a call failed half-way
};

}  // namespace algorithm::lzma
