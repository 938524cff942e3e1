// A symmetric cipher that works in place on pieces of a stream, in order.
// This base does nothing: its bytes pass unchanged.
#pragma once

#include <cstdint>

namespace format {

class cipher {
public:
    cipher() = default;
    cipher(const cipher&) = delete;
    cipher& operator=(const cipher&) = delete;
    virtual ~cipher() = default;

    // Starts the key state afresh.
    virtual void reset() {}
    virtual void encrypt(std::uint8_t* /*bytes*/, std::uint32_t /*length*/) {}
    virtual void decrypt(std::uint8_t* /*bytes*/, std::uint32_t /*length*/) {}
};

}  // namespace format
