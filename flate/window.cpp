#include "flate/window.h"

#include <algorithm>
#include <cstring>

namespace algorithm::flate {

// A slide happens at `threshold` + 257 at the latest and keeps everything
// from `slide_size` on: the whole history a match can reach.
static_assert(window::slide_size > window::max_match, "a slide must make room for a whole match");

namespace {

// An archive of many small entries makes one window per entry. Handing each
// buffer back to the allocator and taking a new one costs more than decoding
// a small entry: the heap shrinks and grows again, and fresh pages have to be
// cleared by the system. The last buffer is kept for the next window of the
// same size instead (one per thread, so windows on other threads never share).
struct spare_buffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};
thread_local spare_buffer spare;
constexpr std::uint32_t spare_limit = std::uint32_t{1} << 16;

std::size_t buffer_size(std::uint32_t window_size) {
    return std::size_t{window_size} + window::max_match + window::slide_size + window::copy_slack;
}

std::unique_ptr<std::uint8_t[]> take_buffer(std::size_t size) {
    if (spare.bytes && spare.size == size) return std::move(spare.bytes);
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
}

}  // namespace

window::window(std::uint32_t window_size, stream::output& target)
    : filter_output(target),
      size(window_size),
      threshold(window_size + slide_size),
      buffer(take_buffer(buffer_size(window_size))) {}

window::~window() {
    // A large window is rare and long to fill; its memory is not held on to.
    if (size > spare_limit) return;
    spare.bytes = std::move(buffer);
    spare.size = buffer_size(size);
}

void window::reset() { used = flushed = 0; }

void window::flush() {
    if (flushed < used) target().write(buffer.get() + flushed, used - flushed);
    flushed = used;
}

void window::copy(std::uint32_t distance, std::uint32_t length) {
    if (used >= threshold) slide();
    std::uint8_t* out = buffer.get() + used;
    const std::uint8_t* from = out - distance;
    for (std::uint32_t i = 0; i < length; ++i) out[i] = from[i];
    used += length;
}

void window::append(const std::uint8_t* bytes, std::uint32_t length) {
    while (length > 0) {
        if (used >= threshold) slide();
        std::uint32_t n = std::min(length, threshold - used);
        std::memcpy(buffer.get() + used, bytes, n);
        used += n;
        bytes += n;
        length -= n;
    }
}

void window::slide() {
    flush();
    std::memmove(buffer.get(), buffer.get() + slide_size, size + max_match);
    used -= slide_size;
    flushed -= slide_size;
}

}  // namespace algorithm::flate
