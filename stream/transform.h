// An object that reads one input and writes the result to one output,
// either to the end of the input or for a given number of bytes. It keeps no
// stream between calls, and neither owns, closes nor flushes them.
#pragma once

#include "stream/input.h"
#include "stream/output.h"

namespace stream {

class transform {
public:
    transform() = default;
    transform(const transform&) = delete;
    transform& operator=(const transform&) = delete;
    virtual ~transform() = default;

    virtual void reset() {}
    virtual void finish() {}

    // Processes `count` bytes of `source` (`everything` for all). Returns
    // how far the output's position advanced.
    virtual size_type process(input& source, output& target, size_type count);
    // Processes `source` to its end.
    virtual size_type process(input& source, output& target);
};

// Moves bytes unchanged through a buffer allocated once at construction.
// A short read ends the copy without an error.
class copy_transform : public transform {
public:
    explicit copy_transform(std::uint32_t buffer_size) : buffer_(buffer_size) {}

    size_type process(input& source, output& target, size_type count) override;
    size_type process(input& source, output& target) override;

private:
    std::vector<std::uint8_t> buffer_;
};

}  // namespace stream
