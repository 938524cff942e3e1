#include "crypto/hmac_sha1.h"

#include <algorithm>
#include <cstring>

#include "crypto/wipe.h"

namespace algorithm::crypto {

namespace {

constexpr std::uint8_t inner_pad = 0x36;
constexpr std::uint8_t outer_pad = 0x5C;

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

inline void store_words(std::uint8_t* p, const sha1::state& words) {
    for (std::uint32_t v : words) {
        *p++ = static_cast<std::uint8_t>(v >> 24);
        *p++ = static_cast<std::uint8_t>(v >> 16);
        *p++ = static_cast<std::uint8_t>(v >> 8);
        *p++ = static_cast<std::uint8_t>(v);
    }
}

}  // namespace

hmac_sha1::hmac_sha1(const void* key, std::size_t length) {
    std::uint8_t block[sha1::block_size] = {};
    if (length > sizeof block) {
        sha1 hash;
        hash.update(key, length);
        sha1::digest short_key = hash.finish();
        std::memcpy(block, short_key.data(), short_key.size());
        wipe(short_key.data(), short_key.size());
    } else if (length > 0) {
        std::memcpy(block, key, length);
    }
    for (auto& b : block) b ^= inner_pad;
    inner_.update(block, sizeof block);
    for (auto& b : block) b ^= inner_pad ^ outer_pad;
    outer_.update(block, sizeof block);
    wipe(block, sizeof block);
    message_ = inner_;
}

sha1::digest hmac_sha1::finish() {
    sha1::digest inner = message_.finish();
    sha1 outer = outer_;
    outer.update(inner.data(), inner.size());
    wipe(inner.data(), inner.size());
    message_ = inner_;
    return outer.finish();
}

// U1 = HMAC(salt || block index), U(i+1) = HMAC(Ui), each 20 bytes of
// output the XOR of the U. From U2 on, each HMAC is one block after each
// saved pad: the 20-byte message or inner digest, then padding for a
// message of 64 + 20 bytes, which stays the same, so one block buffer
// serves every iteration.
void pbkdf2_hmac_sha1(std::string_view passphrase, const std::uint8_t* salt, std::size_t salt_length,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t length) {
    hmac_sha1 prf(passphrase.data(), passphrase.size());
    const sha1::compressor compress = sha1::kernel(sha1::active());
    constexpr std::size_t message_bits = (sha1::block_size + sha1::digest_size) * 8;
    std::uint8_t block[sha1::block_size] = {};
    block[sha1::digest_size] = 0x80;
    block[sizeof block - 2] = static_cast<std::uint8_t>(message_bits >> 8);
    block[sizeof block - 1] = static_cast<std::uint8_t>(message_bits & 0xFF);

    sha1::state u, sum;
    for (std::uint32_t index = 1; length > 0; ++index) {
        const std::uint8_t big_endian_index[4] = {
            static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
            static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
        prf.update(salt, salt_length);
        prf.update(big_endian_index, sizeof big_endian_index);
        sha1::digest first = prf.finish();
        for (std::size_t i = 0; i < u.size(); ++i) u[i] = load_be32(first.data() + 4 * i);
        wipe(first.data(), first.size());
        sum = u;
        for (std::uint32_t i = 1; i < iterations; ++i) {
            store_words(block, u);
            u = prf.inner_.chaining();
            compress(u.data(), block, 1);
            store_words(block, u);
            u = prf.outer_.chaining();
            compress(u.data(), block, 1);
            for (std::size_t w = 0; w < sum.size(); ++w) sum[w] ^= u[w];
        }
        store_words(block, sum);
        const std::size_t take = std::min(length, sha1::digest_size);
        std::memcpy(out, block, take);
        out += take;
        length -= take;
    }
    wipe(block, sizeof block);
    wipe(u.data(), sizeof u);
    wipe(sum.data(), sizeof sum);
}

}  // namespace algorithm::crypto
