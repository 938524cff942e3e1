// Reads its source in blocks of `block_size` and serves small reads from
// memory; reads of half a block or more go straight to the source, so bulk
// transfers are not copied twice.
//
// Decoders that parse the block in place (the inflate bit reader) use
// `data`/`available`/`advance`/`refill` instead of `read`.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/filter_input.h"

namespace stream {

class buffered_input : public filter_input {
public:
    buffered_input(input& source, std::uint32_t block_size);

    void unread(const void* bytes, std::uint32_t length) override;
    void unget(int byte) override;

    // Returns the bytes read from the source but not delivered to it, so
    // that the source is positioned at the first undelivered byte. The
    // stream is not read afterwards.
    void give_back();

    // The undelivered bytes of the block, `available()` of them.
    const std::uint8_t* data() const { return buffer_.data() + index_; }
    std::uint32_t available() const { return count_ - index_; }
    // Marks `n` (at most `available()`) bytes as delivered.
    void advance(std::uint32_t n) { index_ += n; }
    // Moves the undelivered bytes to the front and reads more after them, up
    // to a whole block; returns the number of new bytes (0 at the end of the
    // source). Needs fewer than `block_size()` bytes undelivered: after an
    // `unread` that left more, the block has no room to fill, and a call is
    // a fault of the caller (un::logic_error), not the end of the source.
    std::uint32_t refill();
    std::uint32_t block_size() const { return block_size_; }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_skip(size_type count) override;
    size_type do_position() override { return base_ + index_; }

private:
    std::uint32_t block_size_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t count_ = 0;  // valid bytes in buffer_
    std::uint32_t index_ = 0;  // next byte to deliver, at most count_
    size_type base_;           // source position of buffer_[0]
};

}  // namespace stream
