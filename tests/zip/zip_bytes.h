// Little-endian record building for hand-made archives: every field is
// appended by its own call, so that a test can say what each one is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zip_test {

class bytes {
public:
    bytes& u8(std::uint32_t value) {
        data_.push_back(static_cast<char>(value & 0xFF));
        return *this;
    }
    bytes& u16(std::uint32_t value) { return u8(value).u8(value >> 8); }
    bytes& u32(std::uint32_t value) { return u16(value & 0xFFFF).u16(value >> 16); }
    bytes& u64(std::uint64_t value) {
        return u32(static_cast<std::uint32_t>(value)).u32(static_cast<std::uint32_t>(value >> 32));
    }
    bytes& text(const std::string& text) {
        data_ += text;
        return *this;
    }
    bytes& append(const bytes& other) { return text(other.data_); }

    std::size_t size() const { return data_.size(); }
    const std::string& str() const { return data_; }
    std::string& str() { return data_; }
    std::vector<std::uint8_t> vector() const { return std::vector<std::uint8_t>(data_.begin(), data_.end()); }

private:
    std::string data_;
};

}  // namespace zip_test
