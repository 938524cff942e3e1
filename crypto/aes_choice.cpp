// Which counter kernel AES runs. The AES-NI kernel is chosen once, where
// the processor has the instructions and the kernel gives a known
// keystream; the portable kernel stays the fallback.
#include <atomic>

#include "crypto/aes.h"

namespace algorithm::crypto {

namespace {

#if defined(__x86_64__) || defined(__i386__)

// The WinZip keystream of key 00 01 ... 1f (AES-256) for counters 1 to 17:
// its first and its last block. 17 blocks take the kernel through its wide
// loop twice and its one-block tail once.
constexpr std::uint8_t known_key[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                        16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
constexpr std::size_t known_blocks = 17;
constexpr std::uint8_t known_first[16] = {0xc7, 0xb5, 0x19, 0x84, 0x6a, 0x11, 0x41, 0x1c,
                                          0xd6, 0xac, 0x07, 0xcb, 0x03, 0xf8, 0x01, 0xa8};
constexpr std::uint8_t known_last[16] = {0x48, 0x73, 0xa8, 0x3a, 0x10, 0xec, 0x3f, 0xef,
                                         0xa4, 0x79, 0x7d, 0x9f, 0x8e, 0x0b, 0x43, 0x2a};

bool gives_known_answer(aes::ctr_kernel kernel) {
    const aes key(known_key, sizeof known_key);
    std::uint8_t stream[known_blocks * aes::block_size] = {};
    if (kernel(key, 1, stream, known_blocks) != 1 + known_blocks) return false;
    for (std::size_t i = 0; i < 16; ++i)
        if (stream[i] != known_first[i] || stream[sizeof stream - 16 + i] != known_last[i]) return false;
    return true;
}

#endif

// -1 until the first counter asks.
std::atomic<int> chosen{-1};

}  // namespace

aes::implementation aes::choose() {
    // Tried once: the answer does not change while the program runs.
    static const implementation best = [] {
#if defined(__x86_64__) || defined(__i386__)
        if (processor_has_aes_ni() && gives_known_answer(ctr_aes_ni)) return implementation::aes_ni;
#endif
        return implementation::portable;
    }();
    return best;
}

aes::implementation aes::active() {
    int which = chosen.load(std::memory_order_acquire);
    if (which < 0) {
        which = static_cast<int>(choose());
        chosen.store(which, std::memory_order_release);
    }
    return static_cast<implementation>(which);
}

bool aes::use(implementation which) {
    if (which == implementation::aes_ni && choose() != implementation::aes_ni) return false;
    chosen.store(static_cast<int>(which), std::memory_order_release);
    return true;
}

aes::ctr_kernel aes::kernel(implementation which) {
#if defined(__x86_64__) || defined(__i386__)
    if (which == implementation::aes_ni && choose() == implementation::aes_ni) return ctr_aes_ni;
#endif
    static_cast<void>(which);
    return ctr_portable;
}

}  // namespace algorithm::crypto
