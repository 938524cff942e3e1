// The CRC-32 of Zip (ISO 3309, IEEE 802.3): reflected polynomial 0xEDB88320,
// register starting at all ones, complemented at the end.
//
// Bulk updates run through one of two kernels, chosen once: carry-less
// multiplication folding (PCLMULQDQ) where the processor has it and it gives
// the known answer, a portable slicing-by-8 table loop everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/checksum/digest.h"

namespace algorithm {

class crc32 : public digest {
public:
    crc32() = default;

    void reset() override {
        value_ = 0xFFFFFFFF;
        finished_ = false;
    }
    void update(const void* bytes, std::size_t length) override { value_ = advance(value_, bytes, length); }
    void update(int byte) override;
    // Complements the register once; a second call does nothing.
    void finish() override;

    // The CRC after `finish`; the running register before it.
    std::uint32_t value() const { return value_; }

    // Advances a raw (uncomplemented) CRC register over `length` bytes.
    static std::uint32_t advance(std::uint32_t value, const void* bytes, std::size_t length) {
        return kernel_(value, static_cast<const std::uint8_t*>(bytes), length);
    }

    enum class implementation { portable, folding };
    static implementation active();
    // Selects the kernel; returns false (and changes nothing) when the
    // processor cannot run it. For tests and benchmarks.
    static bool use(implementation which);

    using kernel = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

private:
    static kernel kernel_;

    std::uint32_t value_ = 0xFFFFFFFF;
    bool finished_ = false;
};

// The kernels themselves, for tests that compare them directly.
std::uint32_t crc32_portable(std::uint32_t value, const std::uint8_t* bytes, std::size_t length);
// Null where the processor (or the build) cannot run the folding kernel.
crc32::kernel crc32_folding_kernel();

}  // namespace algorithm
