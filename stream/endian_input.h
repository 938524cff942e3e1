// Reads unsigned integer fields of fixed byte order. The readers check
// nothing themselves: put them on a `stream::safe_input` when a short field
// must fail.
#pragma once

#include <cstdint>

#include "stream/filter_input.h"

namespace stream {

class endian_input : public forward_input {
public:
    explicit endian_input(input& source);

    // The next byte, or -1 at the end.
    int read_u8() { return get(); }
    virtual std::uint32_t read_u16() = 0;
    virtual std::uint32_t read_u24() = 0;
    virtual std::uint32_t read_u32() = 0;
    virtual std::uint64_t read_u64() = 0;

protected:
    const bool host_big_endian;
};

// Least significant byte first, whatever the machine's byte order.
class little_endian_input : public endian_input {
public:
    using endian_input::endian_input;

    std::uint32_t read_u16() override { return static_cast<std::uint32_t>(read_field(2)); }
    std::uint32_t read_u24() override { return static_cast<std::uint32_t>(read_field(3)); }
    std::uint32_t read_u32() override { return static_cast<std::uint32_t>(read_field(4)); }
    std::uint64_t read_u64() override { return read_field(8); }

private:
    std::uint64_t read_field(unsigned bytes);
};

}  // namespace stream
