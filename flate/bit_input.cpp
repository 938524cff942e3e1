#include "flate/bit_input.h"

namespace algorithm::flate {

namespace {

constexpr std::array<std::uint8_t, 256> make_bit_reversal() {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i)) r |= 0x80 >> i;
        table[b] = static_cast<std::uint8_t>(r);
    }
    return table;
}

}  // namespace

const std::array<std::uint8_t, 256> bit_reversal = make_bit_reversal();

std::uint32_t reverse_bits(std::uint32_t bits, int count) {
    std::uint32_t whole = static_cast<std::uint32_t>(bit_reversal[bits & 0xFF]) << 24 |
                          static_cast<std::uint32_t>(bit_reversal[(bits >> 8) & 0xFF]) << 16 |
                          static_cast<std::uint32_t>(bit_reversal[(bits >> 16) & 0xFF]) << 8 | bit_reversal[bits >> 24];
    return count == 0 ? 0 : whole >> (32 - count);
}

void bit_input::reset() {
    low_bits = high_bits = 0;
    bit_count = missing_bytes = 0;
}

void bit_input::fill() {
    while (bit_count < 25) {
        int byte = source()->get();
        if (byte < 0) {
            byte = 0;
            ++missing_bytes;
        }
        low_bits |= static_cast<std::uint32_t>(byte) << bit_count;
        high_bits = high_bits << 8 | bit_reversal[byte];
        bit_count += 8;
    }
}

void bit_input::align() {
    refill();
    drop(bit_count % 8);
}

void bit_input::give_back() {
    // Topping up first and giving everything back leaves the source where
    // it is, so the alignment needs no refill here.
    if (bit_count > 0) {
        low_bits >>= bit_count % 8;
        bit_count -= bit_count % 8;
    }
    for (; bit_count > 0; bit_count -= 8) {
        if (missing_bytes > 0) {
            --missing_bytes;  // never read, nothing to return
            continue;
        }
        source()->unget(static_cast<int>((low_bits >> (bit_count - 8)) & 0xFF));
    }
    low_bits = high_bits = 0;
    missing_bytes = 0;
}

void bit_input::restore(const state& held) {
    bit_count = held.bit_count;
    low_bits = bit_count == 0 ? 0 : held.low_bits & (~std::uint32_t{0} >> (32 - bit_count));
    high_bits = reverse_bits(low_bits, bit_count);
    missing_bytes = held.missing_bytes;
}

}  // namespace algorithm::flate
