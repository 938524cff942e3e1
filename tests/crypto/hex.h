// Test vectors are written as hexadecimal, as the documents that publish
// them write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crypto_test {

inline std::vector<std::uint8_t> from_hex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::string to_hex(const std::uint8_t* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) hex += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return hex;
}

template <typename container>
std::string to_hex(const container& bytes) {
    return to_hex(bytes.data(), bytes.size());
}

}  // namespace crypto_test
