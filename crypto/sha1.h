// SHA-1 (FIPS 180-4), fed with pieces of data in order. Whole 64-byte
// blocks go through one of two compression kernels, chosen once: the x86
// SHA extensions where the processor has them and the kernel gives the
// known answer, a portable kernel everywhere else.
//
// SHA-1 is here for HMAC-SHA1, which WinZip's Zip encryption authenticates
// and derives its keys with; HMAC does not rest on SHA-1's collision
// resistance.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace algorithm::crypto {

class sha1 {
public:
    static constexpr std::size_t block_size = 64;
    static constexpr std::size_t digest_size = 20;
    using digest = std::array<std::uint8_t, digest_size>;
    // The five chaining words.
    using state = std::array<std::uint32_t, 5>;
    static constexpr state initial_state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

    // Runs the kernel that is active now.
    sha1() : sha1(initial_state, 0) {}
    // Carries on from `words`, the chaining state after `length` bytes, a
    // multiple of the block size (HMAC's saved pads).
    sha1(const state& words, std::uint64_t length);
    // Wipes the state and the buffered bytes.
    ~sha1();
    sha1(const sha1&) = default;
    sha1& operator=(const sha1&) = default;

    void update(const void* bytes, std::size_t length);
    // Pads the message and returns its digest; the object then holds
    // nothing useful until it is assigned afresh.
    digest finish();

    // The chaining words; after whole blocks, those of the bytes so far.
    const state& chaining() const { return words_; }

    // Advances chaining words over `count` whole blocks.
    using compressor = void (*)(std::uint32_t* words, const std::uint8_t* blocks, std::size_t count);

    // The compression kernels. The SHA extensions exist on x86 and x86-64.
    enum class implementation { portable, sha_ni };
    static implementation active();
    // Selects the kernel of hashes made from now on; returns false (and
    // changes nothing) when the processor cannot run it. For tests and
    // benchmarks.
    static bool use(implementation which);
    static compressor kernel(implementation which);

private:
    static implementation choose();
    static void compress_portable(std::uint32_t* words, const std::uint8_t* blocks, std::size_t count);
#if defined(__x86_64__) || defined(__i386__)
    static void compress_sha_ni(std::uint32_t* words, const std::uint8_t* blocks, std::size_t count);
    static bool processor_has_sha_ni();
#endif

    state words_;
    std::uint64_t length_;  // bytes given so far
    compressor compress_;
    std::uint8_t buffer_[block_size];  // the first length_ % 64 hold the unfinished block
};

}  // namespace algorithm::crypto
