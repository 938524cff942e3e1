// SHA-1 compression with the SHA extensions. SHA1RNDS4 runs four rounds on
// A, B, C, D held in one register (A in the highest lane), given E plus the
// four message words in another; SHA1NEXTE derives the next E (A of four
// rounds earlier, rotated by 30) and adds it to the next message words;
// SHA1MSG1 and SHA1MSG2 extend the message schedule four words at a time.
// The message words sit with the first in the highest lane, which a
// reversal of the block's 16 bytes gives for four big-endian words at once.
#include "crypto/sha1.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

namespace algorithm::crypto {

namespace {

#define SHA_TARGET __attribute__((target("sha,sse4.1")))

struct lanes {
    __m128i abcd;
    __m128i previous;  // abcd before the last four rounds
    __m128i w[4];      // the message words of the last four groups
};

// Group `g` of four rounds (rounds 4g to 4g+3). From group 4 on, its words
// come from those of groups g-4 to g-1, which the slot being replaced and
// the other three hold.
template <int g>
SHA_TARGET inline void four_rounds(lanes& s, __m128i e) {
    __m128i& w = s.w[g % 4];
    if constexpr (g >= 4)
        w = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w, s.w[(g + 1) % 4]), s.w[(g + 2) % 4]),
                               s.w[(g + 3) % 4]);
    const __m128i e_and_words = g == 0 ? _mm_add_epi32(e, w) : _mm_sha1nexte_epu32(s.previous, w);
    s.previous = s.abcd;
    s.abcd = _mm_sha1rnds4_epu32(s.abcd, e_and_words, g / 5);
}

template <int... g>
SHA_TARGET inline void eighty_rounds(lanes& s, __m128i e, std::integer_sequence<int, g...>) {
    (four_rounds<g>(s, e), ...);
}

#undef SHA_TARGET

}  // namespace

__attribute__((target("sha,sse4.1"))) void sha1::compress_sha_ni(std::uint32_t* words, const std::uint8_t* blocks,
                                                                 std::size_t count) {
    const __m128i reverse_bytes = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // A in the highest lane, E in the highest lane of its own register.
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(words[4]), 0, 0, 0);
    for (; count > 0; --count, blocks += block_size) {
        lanes s;
        s.abcd = abcd;
        for (int i = 0; i < 4; ++i)
            s.w[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), reverse_bytes);
        eighty_rounds(s, e, std::make_integer_sequence<int, 20>());
        // E after the last round is A before the last four, rotated.
        e = _mm_sha1nexte_epu32(s.previous, e);
        abcd = _mm_add_epi32(s.abcd, abcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(words), _mm_shuffle_epi32(abcd, 0x1B));
    words[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

// CPUID leaf 7, EBX bit 29 (SHA); leaf 1, ECX bits 9 (SSSE3) and 19
// (SSE4.1). All of them work on the SSE registers, which every system saves.
bool sha1::processor_has_sha_ni() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b >> 29) & 1;
}

}  // namespace algorithm::crypto

#endif
