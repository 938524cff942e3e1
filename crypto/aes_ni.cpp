// The counter kernel with the AES instructions. AESENC has a latency of
// several cycles but issues every cycle or two, so one block at a time
// would leave the unit idle: the kernel keeps several independent counter
// blocks in flight, each round key applied to all of them before the next.
// x86-64 has 16 vector registers and runs 8 blocks; 32-bit x86 has 8 and
// runs 4, so the blocks and a round key still fit. The loops over the
// blocks are unrolled, which keeps each block in a register.
#include "crypto/aes.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace algorithm::crypto {

namespace {

#if defined(__x86_64__)
constexpr std::size_t lanes = 8;
#else
constexpr std::size_t lanes = 4;
#endif
static_assert(lanes <= 8, "the unroll pragmas below cover every lane");

#define AES_TARGET __attribute__((target("aes,sse4.1")))

AES_TARGET inline __m128i load(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

AES_TARGET inline void store(std::uint8_t* at, __m128i value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value);
}

// `count` counter blocks from `first`; the counter is the low 64 bits of
// the little-endian block, the high 64 bits stay zero.
template <std::size_t count>
AES_TARGET inline void encrypt_counters(const std::uint8_t* round_keys, int rounds, __m128i first,
                                        std::uint8_t* bytes) {
    const __m128i* keys = reinterpret_cast<const __m128i*>(round_keys);
    __m128i block[count];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < count; ++i)
        block[i] = _mm_xor_si128(_mm_add_epi64(first, _mm_set_epi64x(0, static_cast<long long>(i))), keys[0]);
    for (int round = 1; round < rounds; ++round) {
        const __m128i key = _mm_load_si128(keys + round);
#pragma GCC unroll 8
        for (std::size_t i = 0; i < count; ++i) block[i] = _mm_aesenc_si128(block[i], key);
    }
    const __m128i last = _mm_load_si128(keys + rounds);
#pragma GCC unroll 8
    for (std::size_t i = 0; i < count; ++i) {
        block[i] = _mm_aesenclast_si128(block[i], last);
        store(bytes + 16 * i, _mm_xor_si128(load(bytes + 16 * i), block[i]));
    }
}

#undef AES_TARGET

}  // namespace

__attribute__((target("aes,sse4.1"))) std::uint64_t aes::ctr_aes_ni(const aes& key, std::uint64_t counter,
                                                                    std::uint8_t* bytes, std::size_t blocks) {
    const std::uint8_t* round_keys = key.round_keys_;
    const int rounds = key.rounds_;
    for (; blocks >= lanes; blocks -= lanes, counter += lanes, bytes += lanes * block_size)
        encrypt_counters<lanes>(round_keys, rounds, _mm_set_epi64x(0, static_cast<long long>(counter)), bytes);
    for (; blocks > 0; --blocks, ++counter, bytes += block_size)
        encrypt_counters<1>(round_keys, rounds, _mm_set_epi64x(0, static_cast<long long>(counter)), bytes);
    return counter;
}

// CPUID leaf 1: ECX bit 25 (AES) and bit 19 (SSE4.1). Both work on the
// SSE registers, which every system saves.
bool aes::processor_has_aes_ni() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_AES) && (c & bit_SSE4_1);
}

}  // namespace algorithm::crypto

#endif
