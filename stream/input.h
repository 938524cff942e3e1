// The input half of the stream library: every byte the system reads passes
// through a `stream::input`.
//
// Contract, for every implementation:
// - `read` may deliver fewer bytes than asked before the end of the stream;
//   0 means the end. Callers that need exact amounts loop or read through a
//   `stream::safe_input`.
// - `get` returns 0 to 255, or -1 at the end. The end is never an exception,
//   and reading past it reports the end again, any number of times.
// - `unread`/`unget` push consumed bytes back; they are delivered again,
//   last pushed first, and `position` steps back accordingly.
// - A stream never owns the streams it is handed (`copy_to` targets, the
//   source of a filter).
#pragma once

#include <cstdint>
#include <vector>

namespace stream {

// Sizes, counts and positions. All ones means "unknown" for a size and
// "everything that is left" for a count.
using size_type = std::uint64_t;
inline constexpr size_type unknown_size = ~size_type{0};
inline constexpr size_type everything = ~size_type{0};

class output;

class input {
public:
    input() = default;
    input(const input&) = delete;
    input& operator=(const input&) = delete;
    virtual ~input() = default;

    // Clears a reader's internal state; nothing by default.
    virtual void reset() {}
    // Settles what is pending when a reader is done; nothing by default.
    virtual void finish() {}

    virtual std::uint32_t read(void* buffer, std::uint32_t length);
    virtual int get();
    virtual void unread(const void* bytes, std::uint32_t length);
    virtual void unget(int byte);
    virtual size_type skip(size_type count);
    // Writes everything that is left into `target`; returns the byte count.
    virtual size_type copy_to(output& target);
    // Bytes consumed so far.
    virtual size_type position();
    // The total size, or `unknown_size`.
    virtual size_type size() { return unknown_size; }
    virtual void close() {}

    static constexpr std::uint32_t scratch_size = 16384;

protected:
    virtual std::uint32_t do_read(void* buffer, std::uint32_t length);
    virtual int do_get() = 0;
    virtual size_type do_skip(size_type count);
    virtual size_type do_copy_to(output& target);
    virtual size_type do_position() = 0;

    // The 16 KiB buffer of the default skip and copy, made on first use.
    std::uint8_t* scratch();

    bool has_unread() const { return count_ != 0; }

private:
    void empty_unread();

    // Pushed-back bytes: valid in [index_, count_); empty when both are 0.
    std::vector<std::uint8_t> unread_;
    std::uint32_t count_ = 0;
    std::uint32_t index_ = 0;
    size_type base_ = 0;  // position of unread_[0]
    std::vector<std::uint8_t> scratch_;
};

}  // namespace stream
