// Appends to (or overwrites from `index` in) a byte vector owned by
// somebody else.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/output.h"

namespace stream {

class vector_output : public virtual output {
public:
    explicit vector_output(std::vector<std::uint8_t>& vector, std::uint32_t index = 0)
        : index_(index), vector_(&vector) {}

    using output::write;
    void write(const void* bytes, std::uint32_t length) override;
    void put(int byte) override;
    // Sizes the vector once and reads the whole input in one call; the
    // input's size must be known and fit with the vector in 32 bits.
    void copy_from(input& source) override;
    size_type position() override { return index_; }
    void resize(size_type size) override;

protected:
    std::vector<std::uint8_t>& vector() { return *vector_; }
    std::uint32_t index_;

private:
    std::vector<std::uint8_t>* vector_;
};

}  // namespace stream
