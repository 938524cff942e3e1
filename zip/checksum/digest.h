// A message digest fed with pieces of data in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace algorithm {

class digest {
public:
    digest() = default;
    digest(const digest&) = default;
    digest& operator=(const digest&) = default;
    virtual ~digest() = default;

    virtual void reset() {}
    virtual void update(const void* bytes, std::size_t length) = 0;
    virtual void update(int byte) = 0;
    virtual void finish() {}

    // The digest bytes; empty until `finish`.
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

protected:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace algorithm
