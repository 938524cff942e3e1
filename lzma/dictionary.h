// The LZMA dictionary: the decoded bytes that matches copy from, in a ring
// buffer that is also where output waits for its target. Bytes are written
// at a pointer the decoder keeps; when it reaches `end()` the ring wraps:
// everything pending goes to the target in one `write`, and writing starts
// again at `begin()` over the oldest bytes. Pending bytes also go out on
// `flush`, so the target sees large writes only.
//
// The ring holds `history()` bytes, the farthest a match may reach, and
// `slack` more: a match copy may store up to `slack` - 1 bytes past the
// match's end, and those bytes then lie more than `history()` bytes back,
// where no match reads. Its size is a multiple of `alignment`, so that a
// pointer's offset from `begin()` has the low bits of the output position.
// The byte before `begin()` holds the previous byte of the output (0 before
// the first), so `out[-1]` is always that byte.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/output.h"

namespace algorithm::lzma {

class dictionary {
public:
    static constexpr std::uint32_t slack = 64;
    static constexpr std::uint32_t alignment = 64;

    dictionary(std::uint32_t history, stream::output& target);
    dictionary(const dictionary&) = delete;
    dictionary& operator=(const dictionary&) = delete;

    // Where pending bytes go from now on.
    void set_target(stream::output& target) { target_ = &target; }

    std::uint8_t* begin() { return base; }
    std::uint8_t* end() { return base + size_; }
    std::uint32_t size() const { return size_; }
    std::uint32_t history() const { return history_; }
    // The ring has wrapped at least once: all of it holds output.
    bool wrapped() const { return laps != 0; }
    // The output position of a pointer into the ring.
    stream::size_type position(const std::uint8_t* at) const {
        return laps * size_ + static_cast<std::uint32_t>(at - base);
    }

    // Writes the bytes before `at` that the target has not had.
    void flush(const std::uint8_t* at);
    // For a pointer at `end()`: writes what is pending and starts the next
    // lap; returns `begin()`.
    std::uint8_t* wrap();

private:
    std::uint32_t history_;
    std::uint32_t size_;
    // Not cleared: no byte is read before it is written, but for the byte
    // before `begin()`.
    std::unique_ptr<std::uint8_t[]> storage;
    std::uint8_t* base;
    std::uint32_t flushed = 0;  // bytes of this lap the target has had
    stream::size_type laps = 0;
    stream::output* target_;
};

}  // namespace algorithm::lzma
