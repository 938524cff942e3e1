// The backward bit streams of Zstandard (Huffman literals, FSE weights,
// sequences): written forwards, read from the last byte back to the first.
// The last byte holds a 1 above the final bits, the padding mark; the bits
// below it and then every earlier byte are read most significant first.
//
// The reader holds the 8 bytes at `ptr` as a little-endian word and counts
// the bits `consumed` from its top. A stream shorter than 8 bytes is read
// from the word that ends with it: the bytes before it, which the caller
// guarantees are readable (`front_margin`), stand below `limit` and are
// never taken. Near the first byte the reader keeps reading that word, and
// bits taken past the stream's first bit show as `consumed` > `limit`:
// look-ahead may see them (a table lookup of more bits than the code has),
// but a decoder that consumes one reports the end of the stream.
#pragma once

#include <cstdint>
#include <cstring>

namespace algorithm::zstd {

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the Zstandard loops assume a little-endian machine"
#endif

inline std::uint64_t load64(const void* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

inline std::uint32_t load32(const void* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The index of the highest set bit of `x`, which is not 0.
inline unsigned highest_bit(std::uint32_t x) { return 31u - static_cast<unsigned>(__builtin_clz(x)); }

struct bit_reader {
    // Readable bytes a stream needs before its first byte.
    static constexpr unsigned front_margin = 8;

    const std::uint8_t* begin;
    const std::uint8_t* ptr;
    std::uint64_t word;
    unsigned consumed;
    unsigned limit;  // bits of `word` that belong to the stream once `ptr` is at `begin`

    // False when the stream is empty or its last byte has no padding mark.
    bool start(const std::uint8_t* first, std::size_t size) {
        if (size == 0 || first[size - 1] == 0) return false;
        begin = first;
        if (size >= 8) {
            ptr = first + size - 8;
            limit = 64;
        } else {
            ptr = first;
            limit = static_cast<unsigned>(8 * size);
        }
        word = load64(first + size - 8);
        consumed = 8 - highest_bit(first[size - 1]);
        return true;
    }

    // The next `n` (0 to 57) bits, without taking them.
    [[gnu::always_inline]] std::uint32_t peek(unsigned n) const {
        return static_cast<std::uint32_t>(((word << (consumed & 63)) >> 1) >> (63 - n));
    }
    [[gnu::always_inline]] void skip(unsigned n) { consumed += n; }
    [[gnu::always_inline]] std::uint32_t read(unsigned n) {
        const std::uint32_t value = peek(n);
        consumed += n;
        return value;
    }

    // Moves back by whole bytes so that at least 57 bits are held, or as
    // far as the first byte allows.
    [[gnu::always_inline]] void refill() {
        if (ptr - begin >= static_cast<std::ptrdiff_t>(consumed >> 3)) {
            ptr -= consumed >> 3;
            consumed &= 7;
        } else {
            consumed -= static_cast<unsigned>(8 * (ptr - begin));
            ptr = begin;
        }
        word = load64(ptr - (64 - limit) / 8);
    }
    // Word refill far from the first byte: the caller has checked that
    // `ptr` stays at or after `begin`.
    [[gnu::always_inline]] void refill_fast() {
        ptr -= consumed >> 3;
        consumed &= 7;
        word = load64(ptr);
    }

    bool overread() const { return consumed > limit; }
    // Every bit taken, none past the first.
    bool finished() const { return ptr == begin && consumed == limit; }
};

}  // namespace algorithm::zstd
