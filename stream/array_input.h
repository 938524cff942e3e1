// Reads a byte array owned by somebody else, who keeps it alive.
#pragma once

#include <cstdint>

#include "stream/input.h"

namespace stream {

class array_input : public virtual input {
public:
    array_input(const void* data, std::uint32_t length, std::uint32_t index = 0)
        : data_(static_cast<const std::uint8_t*>(data)), length_(length), index_(index) {}

    size_type size() override { return length_; }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override { return index_ < length_ ? data_[index_++] : -1; }
    size_type do_skip(size_type count) override;
    size_type do_position() override { return index_; }

private:
    const std::uint8_t* data_;
    std::uint32_t length_;
    std::uint32_t index_;
};

}  // namespace stream
