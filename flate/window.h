// The inflate history buffer and output staging area. Decoded bytes are
// appended to `buffer`; when `used` reaches `threshold` the buffer slides:
// everything pending is written to the target in one `write`, and the
// last `window_size` + 258 bytes move to the front, so matches can still
// reach a whole window back. Every other output operation goes straight to
// the target; `position()` is the target's, so pending bytes count only once
// a slide or a flush has written them.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/filter_output.h"

namespace algorithm::flate {

class window : public stream::filter_output {
public:
    // Bytes moved out by one slide, and the longest match of plain Deflate.
    static constexpr std::uint32_t slide_size = 131328;
    static constexpr std::uint32_t max_match = 258;
    // Match copies may write this far past the end of a match.
    static constexpr std::uint32_t copy_slack = 32;

    window(std::uint32_t window_size, stream::output& target);
    ~window() override;
    window(const window&) = delete;
    window& operator=(const window&) = delete;

    // Empties the buffer: nothing pending, no history.
    void reset() override;
    // Writes the pending bytes to the target.
    void flush() override;

    void append(int byte) {
        if (used >= threshold) slide();
        buffer[used++] = static_cast<std::uint8_t>(byte);
    }
    // Copies `length` (at most `max_match`) bytes from `distance` back,
    // byte by byte in increasing order, so that a distance shorter than the
    // length repeats the pattern. The caller has checked the distance.
    void copy(std::uint32_t distance, std::uint32_t length);
    // Appends `length` bytes as if one by one, sliding where `append` would.
    void append(const std::uint8_t* bytes, std::uint32_t length);
    void slide();

    std::uint32_t window_size() const { return size; }

    // For the decompressor's loops, which keep `used` in a local pointer.
    std::uint8_t* data() { return buffer.get(); }
    std::uint8_t* threshold_pointer() { return buffer.get() + threshold; }
    std::uint32_t used = 0;  // bytes in `buffer`

private:
    std::uint32_t size;
    std::uint32_t threshold;
    std::uint32_t flushed = 0;  // bytes of `buffer` already written
    // Not cleared: no byte is read before it is written.
    std::unique_ptr<std::uint8_t[]> buffer;
};

}  // namespace algorithm::flate
