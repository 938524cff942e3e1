// CRC-32 by carry-less multiplication: the data is folded 64 bytes at a time
// into four 128-bit accumulators, which are then folded into one and reduced
// to 32 bits (Barrett reduction). The constants are powers of x modulo the
// reflected polynomial: k1 = x^(4*128+32), k2 = x^(4*128-32) for the 512-bit
// fold, k3 = x^(128+32), k4 = x^(128-32) for the 128-bit fold, k5 = x^64, and
// mu = floor(x^64 / P) with P itself for the reduction (all bit-reflected).
#include "zip/checksum/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QUILLON_CRC_FOLDING 1
#endif

namespace algorithm {

#ifdef QUILLON_CRC_FOLDING

namespace {

// Below this many bytes the set-up costs more than the table loop.
constexpr std::size_t folding_minimum = 64;

#define FOLDING_TARGET __attribute__((target("pclmul,sse2")))

FOLDING_TARGET inline __m128i load(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Multiplies both halves of x by their constants and adds the next block.
FOLDING_TARGET inline __m128i fold16(__m128i x, __m128i k, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

FOLDING_TARGET std::uint32_t fold(std::uint32_t value, const std::uint8_t* p, std::size_t length) {
    if (length < folding_minimum) return crc32_portable(value, p, length);
    const std::size_t tail = length & 15;
    length -= tail;

    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(value)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    length -= 64;
    for (; length >= 64; p += 64, length -= 64) {
        x1 = fold16(x1, k1k2, load(p));
        x2 = fold16(x2, k1k2, load(p + 16));
        x3 = fold16(x3, k1k2, load(p + 32));
        x4 = fold16(x4, k1k2, load(p + 48));
    }
    x1 = fold16(x1, k3k4, x2);
    x1 = fold16(x1, k3k4, x3);
    x1 = fold16(x1, k3k4, x4);
    for (; length >= 16; p += 16, length -= 16) x1 = fold16(x1, k3k4, load(p));

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5k0, 0x00), _mm_srli_si128(x, 4));
    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, t), 4)));
    return crc32_portable(value, p, tail);
}

bool processor_can_fold() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_PCLMUL) && (d & bit_SSE2);
}

#undef FOLDING_TARGET

}  // namespace

crc32::kernel crc32_folding_kernel() { return processor_can_fold() ? fold : nullptr; }

#else

crc32::kernel crc32_folding_kernel() { return nullptr; }

#endif

}  // namespace algorithm
