#include "lzma/dictionary.h"

namespace algorithm::lzma {

static_assert(dictionary::alignment % 16 == 0, "offsets keep the four low bits of the position (pb and lp up to 4)");
static_assert(dictionary::slack % dictionary::alignment == 0 && dictionary::alignment >= 1,
              "the slack keeps the ring's size a multiple of the alignment");

namespace {

// The history rounded up to the alignment, and the slack.
std::uint32_t ring_size(std::uint32_t history) {
    return (history + dictionary::alignment - 1) / dictionary::alignment * dictionary::alignment + dictionary::slack;
}

}  // namespace

// The storage begins with one aligned block whose last byte is the one
// before `begin()`.
dictionary::dictionary(std::uint32_t history, stream::output& target)
    : history_(history),
      size_(ring_size(history)),
      storage(new std::uint8_t[std::size_t{size_} + alignment]),
      base(storage.get() + alignment),
      target_(&target) {
    base[-1] = 0;
}

void dictionary::flush(const std::uint8_t* at) {
    const auto offset = static_cast<std::uint32_t>(at - base);
    if (offset > flushed) target_->write(base + flushed, offset - flushed);
    flushed = offset;
}

std::uint8_t* dictionary::wrap() {
    flush(end());
    base[-1] = base[size_ - 1];
    flushed = 0;
    ++laps;
    return base;
}

}  // namespace algorithm::lzma
