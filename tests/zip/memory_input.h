// A seekable input over bytes held in memory, standing in for the archive
// file in tests of the record readers.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "stream/random/input.h"

namespace zip_test {

class memory_input : public stream::random::input {
public:
    explicit memory_input(std::string data) : data_(std::move(data)) {}

    void seek(stream::size_type position) override { at_ = std::min<stream::size_type>(position, data_.size()); }
    stream::size_type size() override { return data_.size(); }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override {
        auto n = static_cast<std::uint32_t>(std::min<stream::size_type>(length, data_.size() - at_));
        std::memcpy(buffer, data_.data() + at_, n);
        at_ += n;
        return n;
    }
    int do_get() override { return at_ < data_.size() ? static_cast<std::uint8_t>(data_[at_++]) : -1; }
    stream::size_type do_position() override { return at_; }

private:
    std::string data_;
    stream::size_type at_ = 0;
};

}  // namespace zip_test
