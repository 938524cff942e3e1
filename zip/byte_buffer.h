// Little-endian bytes built up in memory: a record before it is written,
// or one read to be changed (the writing side of the records).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace format::zip {

class byte_buffer {
public:
    void put8(std::uint32_t value) { bytes.push_back(static_cast<std::uint8_t>(value)); }
    void put16(std::uint32_t value) { put(value, 2); }
    void put32(std::uint64_t value) { put(value, 4); }
    void put64(std::uint64_t value) { put(value, 8); }
    void put(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
    void put(const std::vector<std::uint8_t>& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

    // Values in bytes already there.
    static void set(std::uint8_t* at, std::uint64_t value, unsigned size) {
        for (unsigned i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    static std::uint64_t get(const std::uint8_t* at, unsigned size) {
        std::uint64_t value = 0;
        for (unsigned i = size; i-- > 0;) value = value << 8 | at[i];
        return value;
    }

    std::vector<std::uint8_t> bytes;

private:
    void put(std::uint64_t value, unsigned size) {
        for (unsigned i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
};

}  // namespace format::zip
