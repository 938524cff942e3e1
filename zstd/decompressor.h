// Zstandard decoding (RFC 8878): turns the frames read from a source input
// into their bytes. Push mode, `copy_to`, decodes everything into an
// output; pull mode, `read`/`get`/`skip`, decodes on demand, a block at a
// time (at least 262144 bytes per refill, so at most one block more).
//
// The source holds one or more frames up to its end; skippable frames are
// passed over. A source without any frame, empty, is an error, as for the
// reference command-line tool; one of skippable frames only decodes to
// nothing. Every read of the source stops at the end of a field or a
// block, so nothing is read ahead and `finish` has nothing to give back:
// the source stands after the last byte decoded.
//
// Memory: the window, at most `max_window`, plus a block of 128 KiB and a
// little slack, one compressed block and its literals, and the tables. The
// window is what the frame declares, but never more than its content size
// or `expected_size` (the entry's declared size): no match can reach
// further back than the whole output. A frame that still needs more than
// `max_window` is refused before anything is allocated.
//
// Every failure is an `algorithm::exception` and leaves the decompressor
// unusable; the source's position is then undefined.
//
// Differences from the reference library (libzstd), each on purpose; the
// differential fuzzer (fuzz/zstd.cpp) excuses exactly these:
// - dictionaries are not supported: a frame naming one is refused;
// - a window of more than 128 MiB is refused only where the frame's
//   content size and `expected_size` also exceed it (the library refuses
//   the declared window alone);
// - Huffman codes of 12 bits are refused (the format's limit is 11);
// - a match may not reach further back than the declared window, even
//   where the library still holds older bytes;
// - a literal stream must end with its padding mark and exactly with its
//   last code: the library's fast four-stream loop starts a stream whose
//   last byte is 0, and its two-symbol Huffman decoder takes the whole
//   pair of a last entry, which forgives both bits left over and a last
//   code that runs past the stream's first bit;
// - a sequences stream must end exactly with the last sequence's bits, the
//   last sequence updating no state (the library also reads the state
//   updates after it, and takes the stream even when that runs past its
//   first bit).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "stream/generator_input.h"
#include "zstd/huffman_table.h"
#include "zstd/sequences.h"
#include "zstd/xxhash64.h"

namespace algorithm::zstd {

class decompressor : public stream::generator_input {
public:
    static constexpr std::uint32_t max_window = std::uint32_t{1} << 27;
    static constexpr std::uint32_t max_block = std::uint32_t{1} << 17;

    // `source` must outlive the decompressor; `expected_size` is the size of
    // the decoded data, or `stream::unknown_size`.
    decompressor(stream::input& source, stream::size_type expected_size);

    // Decodes the rest of the frames into `target` and flushes it; returns
    // the number of bytes written.
    stream::size_type copy_to(stream::output& target) override;
    // Nothing to give back: the decompressor never reads ahead.
    void finish() override {}

    // The sequence loop (sequences.h) in the kind chosen once where the
    // processor has BMI2 and it decodes a known frame right.
    using fast_loops = sequences::fast_loops;
    static fast_loops active();
    // Selects the loops of decompressors made from now on; returns false
    // (and changes nothing) when the processor cannot run them. For tests
    // and benchmarks.
    static bool use(fast_loops which);

protected:
    stream::size_type produce(stream::size_type minimum) override;

private:
    enum class state { between_frames, in_frame, ended };

    // With the loops given, for the check of the BMI2 loop.
    decompressor(stream::input& source, stream::size_type expected_size, fast_loops loops);
    static fast_loops choose();

    // One frame header, skippable frame, block or frame end; false at the
    // end of the source.
    bool step();
    void start_frame();
    void decode_block();
    void decode_compressed(std::uint32_t size);
    void end_block(std::uint8_t* block_start);
    void end_frame();
    void make_room();

    std::uint32_t read_some(void* bytes, std::uint32_t length);
    void read_exact(void* bytes, std::uint32_t length);
    [[noreturn]] static void fail(const char* message);

    stream::size_type expected_size;
    state now = state::between_frames;
    bool any_frame = false;
    stream::output* target = nullptr;
    stream::size_type delivered = 0;  // bytes written to the targets

    // The frame being decoded.
    std::uint32_t window = 0;       // the largest offset, at most `max_window`
    std::uint32_t block_limit = 0;  // the most a block may hold or make
    bool checksummed = false;
    stream::size_type content_size = stream::unknown_size;
    stream::size_type decoded = 0;  // bytes of the frame so far
    xxhash64 hash;

    // Output and history: segments of `buffer` (see sequences.h).
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t capacity = 0;
    std::uint8_t* out = nullptr;
    std::uint8_t* segment = nullptr;
    const std::uint8_t* previous_end = nullptr;
    std::size_t previous_size = 0;

    // A compressed block, after `bit_reader::front_margin` bytes, and its
    // literals; each followed by `sequences::copy_slack` bytes.
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> literals;
    huffman_table literal_code;
    sequences codes;
};

}  // namespace algorithm::zstd
