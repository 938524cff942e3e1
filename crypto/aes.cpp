// The key schedule, the portable block function and the portable counter
// kernel, and the counter mode's piecing.
//
// The portable code holds a column of the state as a little-endian 32-bit
// word (row r in bits 8r to 8r+7), so that loading and storing a column is a
// plain load and store on the common processors. One round of a column is
// then four lookups in one table of SubBytes followed by MixColumns, each
// rotated into its row (ShiftRows picks which column each row comes from).
#include "crypto/aes.h"

#include <array>

#include "crypto/wipe.h"
#include "errors/exception.h"

namespace algorithm::crypto {

namespace {

// GF(2^8) arithmetic modulo x^8 + x^4 + x^3 + x + 1.
constexpr std::uint8_t times_x(std::uint8_t a) { return static_cast<std::uint8_t>((a << 1) ^ ((a >> 7) * 0x1B)); }

constexpr std::uint8_t multiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    for (; b != 0; b >>= 1, a = times_x(a))
        if (b & 1) product ^= a;
    return product;
}

constexpr std::uint8_t rotate_byte(std::uint8_t a, int n) {
    return static_cast<std::uint8_t>((a << n) | (a >> (8 - n)));
}

// SubBytes: the multiplicative inverse followed by the affine map. Powers
// of 3 run through every nonzero element, so the inverse of 3^i is
// 3^(255-i).
constexpr std::array<std::uint8_t, 256> make_sbox() {
    std::array<std::uint8_t, 256> power{}, log{};
    std::uint8_t p = 1;
    for (int i = 0; i < 255; ++i, p = multiply(p, 3)) {
        power[i] = p;
        log[p] = static_cast<std::uint8_t>(i);
    }
    std::array<std::uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t inverse = x == 0 ? 0 : power[(255 - log[x]) % 255];
        box[x] = static_cast<std::uint8_t>(inverse ^ rotate_byte(inverse, 1) ^ rotate_byte(inverse, 2) ^
                                           rotate_byte(inverse, 3) ^ rotate_byte(inverse, 4) ^ 0x63);
    }
    return box;
}

constexpr auto sbox = make_sbox();
static_assert(sbox[0x00] == 0x63 && sbox[0x01] == 0x7C && sbox[0x53] == 0xED && sbox[0xFF] == 0x16);

// SubBytes then MixColumns of a byte in row 0: the column (2s, s, s, 3s).
// The other rows are the same column rotated by 8, 16 and 24 bits.
constexpr std::array<std::uint32_t, 256> make_round_table() {
    std::array<std::uint32_t, 256> table{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = sbox[x];
        table[x] = std::uint32_t(multiply(s, 2)) | std::uint32_t(s) << 8 | std::uint32_t(s) << 16 |
                   std::uint32_t(multiply(s, 3)) << 24;
    }
    return table;
}

constexpr auto round_table = make_round_table();
static_assert(round_table[0x00] == 0xA56363C6);

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void store_le32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t rotate(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// The output column whose rows come from columns a, b, c and d.
inline std::uint32_t mixed_column(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return round_table[a & 0xFF] ^ rotate(round_table[(b >> 8) & 0xFF], 8) ^ rotate(round_table[(c >> 16) & 0xFF], 16) ^
           rotate(round_table[d >> 24], 24);
}

// The last round has no MixColumns.
inline std::uint32_t substituted_column(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::uint32_t(sbox[a & 0xFF]) | std::uint32_t(sbox[(b >> 8) & 0xFF]) << 8 |
           std::uint32_t(sbox[(c >> 16) & 0xFF]) << 16 | std::uint32_t(sbox[d >> 24]) << 24;
}

// Encrypts the four columns in place.
inline void encrypt_columns(const std::uint8_t* round_keys, int rounds, std::uint32_t (&s)[4]) {
    std::uint32_t s0 = s[0] ^ load_le32(round_keys), s1 = s[1] ^ load_le32(round_keys + 4);
    std::uint32_t s2 = s[2] ^ load_le32(round_keys + 8), s3 = s[3] ^ load_le32(round_keys + 12);
    for (int round = 1; round < rounds; ++round) {
        const std::uint8_t* k = round_keys + 16 * round;
        const std::uint32_t t0 = mixed_column(s0, s1, s2, s3) ^ load_le32(k);
        const std::uint32_t t1 = mixed_column(s1, s2, s3, s0) ^ load_le32(k + 4);
        const std::uint32_t t2 = mixed_column(s2, s3, s0, s1) ^ load_le32(k + 8);
        const std::uint32_t t3 = mixed_column(s3, s0, s1, s2) ^ load_le32(k + 12);
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    const std::uint8_t* k = round_keys + 16 * rounds;
    s[0] = substituted_column(s0, s1, s2, s3) ^ load_le32(k);
    s[1] = substituted_column(s1, s2, s3, s0) ^ load_le32(k + 4);
    s[2] = substituted_column(s2, s3, s0, s1) ^ load_le32(k + 8);
    s[3] = substituted_column(s3, s0, s1, s2) ^ load_le32(k + 12);
}

}  // namespace

// FIPS-197, 5.2: Nk key words, Nk + 6 rounds, 4 words per round key plus
// the first. Every Nk-th word is rotated, substituted and given the round
// constant; with 8 key words the word halfway between is substituted too.
aes::aes(const std::uint8_t* key, std::size_t length) {
    if (length != 16 && length != 24 && length != 32)
        throw un::logic_error("key must be 16, 24 or 32 bytes", "algorithm::crypto::aes");
    const std::size_t nk = length / 4;
    rounds_ = static_cast<int>(nk) + 6;
    const std::size_t words = 4 * (static_cast<std::size_t>(rounds_) + 1);
    static_assert(sizeof round_keys_ == 4 * (4 * (max_rounds + 1)), "room for AES-256's 60 words");

    for (std::size_t i = 0; i < length; ++i) round_keys_[i] = key[i];
    std::uint8_t round_constant = 1;
    for (std::size_t i = nk; i < words; ++i) {
        std::uint8_t t[4] = {round_keys_[4 * i - 4], round_keys_[4 * i - 3], round_keys_[4 * i - 2],
                             round_keys_[4 * i - 1]};
        if (i % nk == 0) {
            const std::uint8_t first = t[0];
            t[0] = static_cast<std::uint8_t>(sbox[t[1]] ^ round_constant);
            t[1] = sbox[t[2]];
            t[2] = sbox[t[3]];
            t[3] = sbox[first];
            round_constant = times_x(round_constant);
        } else if (nk > 6 && i % nk == 4) {
            for (auto& b : t) b = sbox[b];
        }
        for (int j = 0; j < 4; ++j)
            round_keys_[4 * i + j] = static_cast<std::uint8_t>(round_keys_[4 * (i - nk) + j] ^ t[j]);
    }
    for (std::size_t i = 4 * words; i < sizeof round_keys_; ++i) round_keys_[i] = 0;
}

aes::~aes() { wipe(round_keys_, sizeof round_keys_); }

void aes::encrypt_block(const std::uint8_t* in, std::uint8_t* out) const {
    std::uint32_t s[4] = {load_le32(in), load_le32(in + 4), load_le32(in + 8), load_le32(in + 12)};
    encrypt_columns(round_keys_, rounds_, s);
    for (int c = 0; c < 4; ++c) store_le32(out + 4 * c, s[c]);
}

std::uint64_t aes::ctr_portable(const aes& key, std::uint64_t counter, std::uint8_t* bytes, std::size_t blocks) {
    const std::uint8_t* round_keys = key.round_keys_;
    const int rounds = key.rounds_;
    for (; blocks > 0; --blocks, ++counter, bytes += block_size) {
        std::uint32_t s[4] = {static_cast<std::uint32_t>(counter), static_cast<std::uint32_t>(counter >> 32), 0, 0};
        encrypt_columns(round_keys, rounds, s);
        for (int c = 0; c < 4; ++c) store_le32(bytes + 4 * c, load_le32(bytes + 4 * c) ^ s[c]);
    }
    return counter;
}

aes_ctr::aes_ctr(const aes& key, std::uint64_t first) : key_(&key), kernel_(aes::kernel(aes::active())) {
    restart(first);
}

aes_ctr::~aes_ctr() { wipe(pad_, sizeof pad_); }

void aes_ctr::restart(std::uint64_t first) {
    counter_ = first;
    used_ = sizeof pad_;
}

void aes_ctr::apply(std::uint8_t* bytes, std::size_t length) {
    // The rest of the last keystream block first, then whole blocks straight
    // from the kernel, then a new keystream block for the tail.
    for (; used_ < sizeof pad_ && length > 0; --length) *bytes++ ^= pad_[used_++];
    const std::size_t blocks = length / aes::block_size;
    if (blocks > 0) {
        counter_ = kernel_(*key_, counter_, bytes, blocks);
        bytes += blocks * aes::block_size;
        length -= blocks * aes::block_size;
    }
    if (length == 0) return;
    for (auto& b : pad_) b = 0;
    counter_ = kernel_(*key_, counter_, pad_, 1);
    for (used_ = 0; used_ < length; ++used_) bytes[used_] ^= pad_[used_];
}

}  // namespace algorithm::crypto
