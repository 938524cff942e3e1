// SHA-1's buffering and padding, and the portable compression kernel.
#include "crypto/sha1.h"

#include <algorithm>
#include <cstring>

#include "crypto/wipe.h"

namespace algorithm::crypto {

namespace {

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline std::uint32_t rotate(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// The message length goes into the last 8 bytes of the last block.
constexpr std::size_t length_field = 8;

// Rounds 0-19 choose, 20-39 and 60-79 take the parity, 40-59 the majority.
struct choice {
    static constexpr std::uint32_t k = 0x5A827999;
    static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return d ^ (b & (c ^ d)); }
};
struct parity_low {
    static constexpr std::uint32_t k = 0x6ED9EBA1;
    static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
};
struct majority {
    static constexpr std::uint32_t k = 0x8F1BBCDC;
    static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return (b & c) | (d & (b | c)); }
};
struct parity_high {
    static constexpr std::uint32_t k = 0xCA62C1D6;
    static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
};

// Twenty rounds from round `first`; the message schedule is kept as the
// last 16 words, in place.
template <typename group>
inline void twenty_rounds(int first, std::uint32_t (&w)[16], std::uint32_t (&v)[5]) {
    std::uint32_t a = v[0], b = v[1], c = v[2], d = v[3], e = v[4];
    for (int t = first; t < first + 20; ++t) {
        if (t >= 16) w[t & 15] = rotate(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
        const std::uint32_t next = rotate(a, 5) + group::f(b, c, d) + e + group::k + w[t & 15];
        e = d, d = c, c = rotate(b, 30), b = a, a = next;
    }
    v[0] = a, v[1] = b, v[2] = c, v[3] = d, v[4] = e;
}

}  // namespace

sha1::sha1(const state& words, std::uint64_t length)
    : words_(words), length_(length), compress_(kernel(active())), buffer_() {}

sha1::~sha1() {
    wipe(words_.data(), sizeof words_);
    wipe(buffer_, sizeof buffer_);
}

void sha1::update(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    const std::size_t held = length_ % block_size;
    length_ += length;
    if (held > 0) {
        const std::size_t take = std::min(block_size - held, length);
        std::memcpy(buffer_ + held, p, take);
        if (held + take < block_size) return;
        compress_(words_.data(), buffer_, 1);
        p += take;
        length -= take;
    }
    const std::size_t blocks = length / block_size;
    if (blocks > 0) compress_(words_.data(), p, blocks);
    p += blocks * block_size;
    if (length % block_size > 0) std::memcpy(buffer_, p, length % block_size);
}

// A 1 bit, zeros up to 8 bytes before a block's end, then the length in
// bits, big-endian; a second block when the first has no room.
sha1::digest sha1::finish() {
    std::size_t held = length_ % block_size;
    buffer_[held++] = 0x80;
    if (held > block_size - length_field) {
        std::memset(buffer_ + held, 0, block_size - held);
        compress_(words_.data(), buffer_, 1);
        held = 0;
    }
    std::memset(buffer_ + held, 0, block_size - length_field - held);
    const std::uint64_t bits = length_ * 8;
    store_be32(buffer_ + block_size - 8, static_cast<std::uint32_t>(bits >> 32));
    store_be32(buffer_ + block_size - 4, static_cast<std::uint32_t>(bits));
    compress_(words_.data(), buffer_, 1);
    digest out;
    for (std::size_t i = 0; i < words_.size(); ++i) store_be32(out.data() + 4 * i, words_[i]);
    return out;
}

void sha1::compress_portable(std::uint32_t* words, const std::uint8_t* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += block_size) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(blocks + 4 * i);
        std::uint32_t v[5] = {words[0], words[1], words[2], words[3], words[4]};
        twenty_rounds<choice>(0, w, v);
        twenty_rounds<parity_low>(20, w, v);
        twenty_rounds<majority>(40, w, v);
        twenty_rounds<parity_high>(60, w, v);
        for (int i = 0; i < 5; ++i) words[i] += v[i];
    }
}

}  // namespace algorithm::crypto
