#include "flate/window.h"

#include <algorithm>
#include <cstring>

namespace algorithm::flate {

// A slide happens at `threshold` + 257 at the latest and keeps everything
// from `slide_size` on: the whole history a match can reach.
static_assert(window::slide_size > window::max_match, "a slide must make room for a whole match");

window::window(std::uint32_t window_size, stream::output& target)
    : filter_output(target),
      size(window_size),
      threshold(window_size + slide_size),
      buffer(new std::uint8_t[std::size_t{window_size} + max_match + slide_size + copy_slack]) {}

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
