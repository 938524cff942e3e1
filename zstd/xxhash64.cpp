#include "zstd/xxhash64.h"

#include <algorithm>
#include <cstring>

namespace algorithm::zstd {

namespace {

constexpr std::uint64_t prime1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t prime2 = 0xC2B2AE3D27D4EB4Fu;
constexpr std::uint64_t prime3 = 0x165667B19E3779F9u;
constexpr std::uint64_t prime4 = 0x85EBCA77C2B2AE63u;
constexpr std::uint64_t prime5 = 0x27D4EB2F165667C5u;

std::uint64_t rotate_left(std::uint64_t x, int n) { return (x << n) | (x >> (64 - n)); }

std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

std::uint64_t round(std::uint64_t lane, std::uint64_t input) { return rotate_left(lane + input * prime2, 31) * prime1; }

std::uint64_t merge(std::uint64_t hash, std::uint64_t lane) { return (hash ^ round(0, lane)) * prime1 + prime4; }

// The four lanes take 8 bytes each of every 32-byte stripe.
const std::uint8_t* stripes(std::uint64_t* lanes, const std::uint8_t* p, const std::uint8_t* end) {
    std::uint64_t a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
    for (; end - p >= 32; p += 32) {
        a = round(a, load64(p));
        b = round(b, load64(p + 8));
        c = round(c, load64(p + 16));
        d = round(d, load64(p + 24));
    }
    lanes[0] = a, lanes[1] = b, lanes[2] = c, lanes[3] = d;
    return p;
}

}  // namespace

void xxhash64::reset() {
    lanes[0] = prime1 + prime2;
    lanes[1] = prime2;
    lanes[2] = 0;
    lanes[3] = 0 - prime1;
    total = 0;
    held_count = 0;
}

void xxhash64::update(const std::uint8_t* bytes, std::size_t length) {
    total += length;
    const std::uint8_t* const end = bytes + length;
    if (held_count > 0) {
        const std::size_t n = std::min(stripe - held_count, length);
        std::memcpy(held + held_count, bytes, n);
        held_count += n;
        bytes += n;
        if (held_count < stripe) return;
        stripes(lanes, held, held + stripe);
        held_count = 0;
    }
    bytes = stripes(lanes, bytes, end);
    held_count = static_cast<std::size_t>(end - bytes);
    if (held_count > 0) std::memcpy(held, bytes, held_count);
}

std::uint64_t xxhash64::digest() const {
    std::uint64_t hash;
    if (total >= stripe) {
        hash =
            rotate_left(lanes[0], 1) + rotate_left(lanes[1], 7) + rotate_left(lanes[2], 12) + rotate_left(lanes[3], 18);
        for (std::uint64_t lane : lanes) hash = merge(hash, lane);
    } else {
        hash = prime5;  // lanes[2] is the seed
    }
    hash += total;
    const std::uint8_t* p = held;
    const std::uint8_t* const end = held + held_count;
    for (; end - p >= 8; p += 8) hash = rotate_left(hash ^ round(0, load64(p)), 27) * prime1 + prime4;
    if (end - p >= 4) {
        hash = rotate_left(hash ^ (load32(p) * prime1), 23) * prime2 + prime3;
        p += 4;
    }
    for (; p < end; ++p) hash = rotate_left(hash ^ (*p * prime5), 11) * prime1;
    hash ^= hash >> 33;
    hash *= prime2;
    hash ^= hash >> 29;
    hash *= prime3;
    hash ^= hash >> 32;
    return hash;
}

}  // namespace algorithm::zstd
