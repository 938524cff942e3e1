// WinZip's AES encryption of Zip entries (AE-1 and AE-2: method 99, extra
// field 0x9901). The entry's data is
//   salt (8, 12 or 16 bytes for strength 1, 2, 3: AES-128, -192, -256)
//   password verifier (2 bytes)
//   the encrypted data (its compressed size less 10 + salt + 2 bytes)
//   authentication code (10 bytes)
// PBKDF2-HMAC-SHA1 with 1000 iterations over the passphrase and the salt
// gives the AES key, the HMAC key (both as long as the AES key) and the
// verifier, in that order. The data is AES in counter mode from counter 1
// (algorithm::crypto::aes_ctr); the code is the first 10 bytes of the
// HMAC-SHA1 of the encrypted data. AE-2 stores a CRC of 0 and leaves the
// check to the code; AE-1 has the real CRC as well, which the reader
// checks as for any entry.
//
// The cipher works in place on the encrypted data alone, in pieces, in
// order: the caller reads the salt and the verifier before it, and the code
// after it, past the cipher. The passphrase is not kept; the derived keys
// are wiped when the cipher dies.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "crypto/aes.h"
#include "crypto/hmac_sha1.h"
#include "zip/cipher.h"

namespace format::zip {

class aes_cipher : public format::cipher {
public:
    static constexpr std::uint32_t verifier_length = 2;
    static constexpr std::uint32_t code_length = 10;
    static constexpr std::uint32_t iterations = 1000;
    static constexpr std::uint32_t max_salt_length = 16;

    // 8, 12 or 16 bytes for strength 1, 2 or 3; any other strength is a
    // format::exception.
    static std::uint32_t salt_length(int strength);
    // 16, 24 or 32 bytes.
    static std::uint32_t key_length(int strength);
    // Everything the method adds to the encrypted data: salt, verifier and
    // code.
    static std::uint32_t overhead(int strength) { return salt_length(strength) + verifier_length + code_length; }

    // Derives the keys from `passphrase` (its bytes as typed) and `salt`
    // (salt_length(strength) bytes). Costs 2000 SHA-1 compressions per 20
    // bytes of key material: 4 to 7 such pieces.
    aes_cipher(std::string_view passphrase, int strength, const std::uint8_t* salt);
    ~aes_cipher() override;

    // The verifier the passphrase gives.
    const std::uint8_t* verifier() const { return verifier_; }
    // Throws format::passphrase_exception unless `stored` (verifier_length
    // bytes) is the verifier. Two bytes: a wrong passphrase passes once in
    // 65536 times, and is then caught by the code.
    void check_verifier(const std::uint8_t* stored) const;

    // The counter back to 1 and the code afresh.
    void reset() override;
    // Authenticates the encrypted bytes, then decrypts them in place.
    void decrypt(std::uint8_t* bytes, std::uint32_t length) override;
    // Encrypts in place, then authenticates the result (for the packer and
    // tests).
    void encrypt(std::uint8_t* bytes, std::uint32_t length) override;

    // The code of the encrypted bytes so far, and a new code started.
    std::array<std::uint8_t, code_length> finish_code();
    // Finishes the code and throws format::exception unless `stored`
    // (code_length bytes) matches it.
    void check_code(const std::uint8_t* stored);

private:
    struct derived_keys;
    aes_cipher(const derived_keys& keys, std::uint32_t key_length);

    algorithm::crypto::aes key_;
    algorithm::crypto::aes_ctr counter_;
    algorithm::crypto::hmac_sha1 code_;
    std::uint8_t verifier_[verifier_length];
};

}  // namespace format::zip
