// Which compression kernel SHA-1 runs. The kernel of the SHA extensions is
// chosen once, where the processor has them and the kernel gives a known
// digest; the portable kernel stays the fallback.
#include <atomic>
#include <cstring>

#include "crypto/sha1.h"

namespace algorithm::crypto {

namespace {

#if defined(__x86_64__) || defined(__i386__)

// FIPS 180's two-block example: the 448-bit message, padded, and its
// digest as chaining words.
constexpr char known_message[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr sha1::state known_digest = {0x84983E44, 0x1C3BD26E, 0xBAAE4AA1, 0xF95129E5, 0xE54670F1};

bool gives_known_answer(sha1::compressor kernel) {
    std::uint8_t blocks[2 * sha1::block_size] = {};
    constexpr std::size_t length = sizeof known_message - 1;
    static_assert(length == 56, "the padding takes a second block");
    std::memcpy(blocks, known_message, length);
    blocks[length] = 0x80;
    blocks[sizeof blocks - 2] = 448 >> 8;
    blocks[sizeof blocks - 1] = 448 & 0xFF;
    sha1::state words = sha1::initial_state;
    kernel(words.data(), blocks, 2);
    return words == known_digest;
}

#endif

// -1 until the first hash asks.
std::atomic<int> chosen{-1};

}  // namespace

sha1::implementation sha1::choose() {
    // Tried once: the answer does not change while the program runs.
    static const implementation best = [] {
#if defined(__x86_64__) || defined(__i386__)
        if (processor_has_sha_ni() && gives_known_answer(compress_sha_ni)) return implementation::sha_ni;
#endif
        return implementation::portable;
    }();
    return best;
}

sha1::implementation sha1::active() {
    int which = chosen.load(std::memory_order_acquire);
    if (which < 0) {
        which = static_cast<int>(choose());
        chosen.store(which, std::memory_order_release);
    }
    return static_cast<implementation>(which);
}

bool sha1::use(implementation which) {
    if (which == implementation::sha_ni && choose() != implementation::sha_ni) return false;
    chosen.store(static_cast<int>(which), std::memory_order_release);
    return true;
}

sha1::compressor sha1::kernel(implementation which) {
#if defined(__x86_64__) || defined(__i386__)
    if (which == implementation::sha_ni && choose() == implementation::sha_ni) return compress_sha_ni;
#endif
    static_cast<void>(which);
    return compress_portable;
}

}  // namespace algorithm::crypto
