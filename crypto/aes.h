// AES (FIPS-197) with 128-, 192- and 256-bit keys, encryption only, and the
// counter mode of WinZip's Zip encryption built on it.
//
// The key schedule is always computed by the portable code; its round keys
// are kept as bytes in the order FIPS-197 writes them, which is also the
// order AES-NI loads them in. Counter mode runs through one of two kernels,
// chosen once: AES-NI where the processor has it and the kernel gives the
// known answer, a table-driven portable kernel everywhere else. The
// portable code is not constant-time: its table lookups depend on the key
// and the data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace algorithm::crypto {

class aes {
public:
    static constexpr std::size_t block_size = 16;
    static constexpr int max_rounds = 14;  // AES-256

    // `length`: 16, 24 or 32 bytes; anything else is a logic_error.
    aes(const std::uint8_t* key, std::size_t length);
    aes(const aes&) = delete;
    aes& operator=(const aes&) = delete;
    // Wipes the round keys.
    ~aes();

    // One block, by the portable code; `in` and `out` may be the same.
    void encrypt_block(const std::uint8_t* in, std::uint8_t* out) const;

    int rounds() const { return rounds_; }
    // (rounds + 1) * 16 bytes, 16-byte aligned.
    const std::uint8_t* round_keys() const { return round_keys_; }

    // The counter-mode kernels. AES-NI exists on x86 and x86-64.
    enum class implementation { portable, aes_ni };
    static implementation active();
    // Selects the kernel of counters made from now on; returns false (and
    // changes nothing) when the processor cannot run it. For tests and
    // benchmarks.
    static bool use(implementation which);

    // Encrypts the counter blocks `counter`, `counter + 1`, ... (`blocks`
    // of them) and XORs them into `bytes`; returns the next counter. A
    // counter block is the counter as a 128-bit little-endian integer.
    using ctr_kernel = std::uint64_t (*)(const aes& key, std::uint64_t counter, std::uint8_t* bytes,
                                         std::size_t blocks);
    static ctr_kernel kernel(implementation which);

private:
    static implementation choose();
    static std::uint64_t ctr_portable(const aes& key, std::uint64_t counter, std::uint8_t* bytes, std::size_t blocks);
#if defined(__x86_64__) || defined(__i386__)
    static std::uint64_t ctr_aes_ni(const aes& key, std::uint64_t counter, std::uint8_t* bytes, std::size_t blocks);
    static bool processor_has_aes_ni();
#endif

    alignas(16) std::uint8_t round_keys_[(max_rounds + 1) * block_size];
    int rounds_;
};

// WinZip's counter mode: the keystream is AES of the counter blocks 1, 2,
// 3, ... (the counter as a little-endian integer), XORed into the data.
// Encryption and decryption are the same operation. The data may come in
// pieces of any length: the counter and the unused rest of the last
// keystream block carry over from one call to the next.
//
// Only the low 64 bits of the counter are ever nonzero: a Zip entry holds
// fewer than 2^64 bytes, fewer than 2^60 blocks.
class aes_ctr {
public:
    // `key` is borrowed and must outlive the counter. Runs the kernel that
    // is active now.
    explicit aes_ctr(const aes& key, std::uint64_t first = 1);
    // Wipes the unused keystream.
    ~aes_ctr();

    void apply(std::uint8_t* bytes, std::size_t length);
    // Starts the keystream again at counter `first`.
    void restart(std::uint64_t first = 1);

private:
    const aes* key_;
    aes::ctr_kernel kernel_;
    std::uint64_t counter_;
    std::uint8_t pad_[aes::block_size];
    std::size_t used_;  // bytes of pad_ already XORed in
};

}  // namespace algorithm::crypto
