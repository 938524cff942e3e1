// An input whose bytes are made on demand: when its reader has taken what
// is there, it asks `produce` for at least `produce_size` more, which
// `produce` writes to `sink()`. Reads may so return fewer bytes than asked
// before the end; the end is a `produce` that makes nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/filter_input.h"
#include "stream/random/vector_output.h"

namespace stream {

class generator_input : public filter_input {
public:
    static constexpr std::uint32_t produce_size = 262144;

    explicit generator_input(input* source);

    // The bytes are not made yet, so their number is not known.
    size_type size() override { return unknown_size; }

protected:
    // Writes at least `minimum` bytes to `sink()` unless the stream ends
    // first; returns the number written.
    virtual size_type produce(size_type minimum) = 0;
    stream::output& sink() { return sink_; }

    int do_get() override;
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    size_type do_skip(size_type count) override;
    size_type do_position() override { return delivered + index; }

private:
    void refill();
    std::uint32_t left() const { return count - index; }

    std::vector<std::uint8_t> bytes;
    std::uint32_t count = 0;  // valid bytes in `bytes`
    std::uint32_t index = 0;  // next byte to deliver
    size_type delivered = 0;  // bytes delivered before `bytes[0]`
    random::vector_output sink_;
};

}  // namespace stream
