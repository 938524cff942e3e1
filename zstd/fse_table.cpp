#include "zstd/fse_table.h"

#include "errors/exception.h"
#include "zstd/bit_reader.h"

namespace algorithm::zstd {

void fse_table::fail(const char* message) { throw algorithm::exception(message, "algorithm::zstd::fse_table"); }

std::size_t fse_table::read(const std::uint8_t* data, std::size_t size, const symbol_values& values) {
    // A little-endian bit stream; bytes past the end read as zeros, and a
    // description that takes any of them is truncated.
    std::size_t position = 0;  // in bits
    auto bits_at = [&](unsigned count) {
        std::uint32_t word = 0;
        const std::size_t byte = position / 8;
        for (std::size_t i = 0; i < 4 && byte + i < size; ++i) word |= std::uint32_t{data[byte + i]} << (8 * i);
        return (word >> (position % 8)) & ((std::uint32_t{1} << count) - 1);
    };

    const unsigned accuracy = bits_at(4) + min_log;
    position += 4;
    if (accuracy > values.max_log) fail("accuracy log too large");

    std::int16_t probabilities[max_symbols];
    const std::int32_t states = std::int32_t{1} << accuracy;
    std::int32_t remaining = states + 1;  // probabilities still to give, plus one
    std::int32_t threshold = states;
    unsigned width = accuracy + 1;
    unsigned symbol = 0;
    while (remaining > 1) {
        if (symbol > values.max_symbol) fail("too many symbols in a distribution");
        // A value below `small` takes `width` - 1 bits, others `width`.
        const std::int32_t small = 2 * threshold - 1 - remaining;
        std::int32_t value = static_cast<std::int32_t>(bits_at(width));
        if ((value & (threshold - 1)) < small) {
            value &= threshold - 1;
            position += width - 1;
        } else {
            if (value >= threshold) value -= small;
            position += width;
        }
        const std::int32_t probability = value - 1;
        remaining -= probability < 0 ? -probability : probability;
        probabilities[symbol++] = static_cast<std::int16_t>(probability);
        if (probability == 0) {
            // Runs of zero probabilities: 2-bit counts, 3 meaning more.
            for (;;) {
                const std::uint32_t zeros = bits_at(2);
                position += 2;
                if (symbol + zeros > values.max_symbol + 1) fail("too many symbols in a distribution");
                for (std::uint32_t i = 0; i < zeros; ++i) probabilities[symbol++] = 0;
                if (zeros != 3) break;
            }
        }
        while (remaining < threshold && threshold > 1) {
            --width;
            threshold >>= 1;
        }
    }
    // No value exceeds what remains, so the loop ends with exactly one
    // left: the probabilities fill the 2^accuracy states.
    const std::size_t used = (position + 7) / 8;
    if (used > size) fail("truncated distribution");
    build(probabilities, symbol, accuracy, values);
    return used;
}

void fse_table::build(const std::int16_t* probabilities, unsigned symbols, unsigned accuracy,
                      const symbol_values& values) {
    const std::uint32_t size = std::uint32_t{1} << accuracy;
    const std::uint32_t mask = size - 1;
    std::uint16_t next[max_symbols];
    std::uint8_t symbol_of[max_states];
    // "Less than 1" symbols take one state each, from the top down.
    std::uint32_t high = size - 1;
    for (unsigned s = 0; s < symbols; ++s) {
        if (probabilities[s] == -1) {
            symbol_of[high--] = static_cast<std::uint8_t>(s);
            next[s] = 1;
        } else {
            next[s] = static_cast<std::uint16_t>(probabilities[s]);
        }
    }
    // The others are spread over the rest with a step that visits every
    // state once.
    const std::uint32_t step = (size >> 1) + (size >> 3) + 3;
    std::uint32_t position = 0;
    for (unsigned s = 0; s < symbols; ++s) {
        for (int i = 0; i < probabilities[s]; ++i) {
            symbol_of[position] = static_cast<std::uint8_t>(s);
            do position = (position + step) & mask;
            while (position > high);
        }
    }
    for (std::uint32_t state = 0; state < size; ++state) {
        const unsigned s = symbol_of[state];
        const std::uint32_t n = next[s]++;
        const unsigned bits = accuracy - highest_bit(n);
        entry& e = entries[state];
        e.bits = static_cast<std::uint8_t>(bits);
        e.next_base = static_cast<std::uint16_t>((n << bits) - size);
        e.base = values.base ? values.base[s] : s;
        e.extra = values.extra ? values.extra[s] : 0;
    }
    log = accuracy;
}

void fse_table::repeat(unsigned symbol, const symbol_values& values) {
    if (symbol > values.max_symbol) fail("repeated symbol out of range");
    entries[0] = {0, 0, values.extra ? values.extra[symbol] : std::uint8_t{0},
                  values.base ? values.base[symbol] : symbol};
    log = 0;
}

}  // namespace algorithm::zstd
