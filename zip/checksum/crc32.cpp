#include "zip/checksum/crc32.h"

#include <array>

#include "zip/checksum/crc_table.h"

namespace algorithm {

namespace {

// Slicing-by-8: table k holds the CRC of byte n followed by k zero bytes, so
// eight bytes are folded with eight independent lookups.
constexpr std::array<std::array<std::uint32_t, 256>, 8> make_slices() {
    std::array<std::array<std::uint32_t, 256>, 8> slices{};
    slices[0] = crc_table;
    for (int k = 1; k < 8; ++k)
        for (int n = 0; n < 256; ++n) slices[k][n] = crc_step(slices[k - 1][n], 0);
    return slices;
}

constexpr auto slices = make_slices();

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The answer every kernel must give: the register after "123456789" from all
// ones, repeated so that the folding kernel takes its wide path.
bool gives_known_answer(crc32::kernel kernel) {
    std::array<std::uint8_t, 288> data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>("123456789"[i % 9]);
    return kernel(0xFFFFFFFF, data.data(), data.size()) == crc32_portable(0xFFFFFFFF, data.data(), data.size()) &&
           (kernel(0xFFFFFFFF, data.data(), 9) ^ 0xFFFFFFFF) == 0xCBF43926;
}

crc32::kernel choose() {
    crc32::kernel folding = crc32_folding_kernel();
    if (folding && gives_known_answer(folding)) return folding;
    return crc32_portable;
}

// The first bulk update picks the kernel; later ones go straight to it.
std::uint32_t first_call(std::uint32_t value, const std::uint8_t* bytes, std::size_t length);

}  // namespace

crc32::kernel crc32::kernel_ = first_call;

namespace {

std::uint32_t first_call(std::uint32_t value, const std::uint8_t* bytes, std::size_t length) {
    crc32::use(choose() == crc32_portable ? crc32::implementation::portable : crc32::implementation::folding);
    return crc32::advance(value, bytes, length);
}

}  // namespace

std::uint32_t crc32_portable(std::uint32_t value, const std::uint8_t* p, std::size_t length) {
    for (; length >= 8; p += 8, length -= 8) {
        std::uint32_t one = load_le32(p) ^ value;
        std::uint32_t two = load_le32(p + 4);
        value = slices[7][one & 0xFF] ^ slices[6][(one >> 8) & 0xFF] ^ slices[5][(one >> 16) & 0xFF] ^
                slices[4][one >> 24] ^ slices[3][two & 0xFF] ^ slices[2][(two >> 8) & 0xFF] ^
                slices[1][(two >> 16) & 0xFF] ^ slices[0][two >> 24];
    }
    for (; length > 0; --length) value = crc_step(value, *p++);
    return value;
}

void crc32::update(int byte) { value_ = crc_step(value_, static_cast<std::uint8_t>(byte)); }

void crc32::finish() {
    if (finished_) return;
    value_ ^= 0xFFFFFFFF;
    bytes_ = {std::uint8_t(value_ >> 24), std::uint8_t(value_ >> 16), std::uint8_t(value_ >> 8), std::uint8_t(value_)};
    finished_ = true;
}

crc32::implementation crc32::active() {
    if (kernel_ == first_call) use(choose() == crc32_portable ? implementation::portable : implementation::folding);
    return kernel_ == crc32_portable ? implementation::portable : implementation::folding;
}

bool crc32::use(implementation which) {
    if (which == implementation::portable) {
        kernel_ = crc32_portable;
        return true;
    }
    kernel folding = crc32_folding_kernel();
    if (!folding || !gives_known_answer(folding)) return false;
    kernel_ = folding;
    return true;
}

}  // namespace algorithm
