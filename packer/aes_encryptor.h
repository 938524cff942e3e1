// WinZip AES encryption of one entry (AE-2), with OpenSSL's libcrypto: a
// random salt and the password verifier in front of the data; keys from
// PBKDF2-HMAC-SHA1 (1000 iterations) over the passphrase and the salt;
// the data in AES counter mode as WinZip counts (a 16-byte little-endian
// counter from 1, its blocks encrypted with the key and added to the data);
// after the data the first 10 bytes of HMAC-SHA1 of the encrypted data.
// The layouts are the reader's (zip/aes_cipher.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "packer/entry_encryptor.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

namespace quillon::pack {

class aes_encryptor : public entry_encryptor {
public:
    // AES-256 (WinZip's strength 3).
    static constexpr int strength = 3;
    // Salt, verifier and authentication code: what the data grows by.
    static std::uint32_t overhead();

    // Derives the keys from `passphrase` and a new random salt; the
    // passphrase is not kept, and the derived bytes not needed after are
    // cleared.
    explicit aes_encryptor(std::string_view passphrase);
    ~aes_encryptor() override;

    std::vector<std::uint8_t> header() override;
    void encrypt(std::uint8_t* bytes, std::size_t length) override;
    std::vector<std::uint8_t> trailer() override;

private:
    void next_keystream();

    std::vector<std::uint8_t> salt_;
    std::uint8_t verifier_[2];
    EVP_CIPHER_CTX* aes_ = nullptr;
    EVP_MAC_CTX* mac_ = nullptr;
    std::uint64_t counter_ = 0;  // the last block's number; the high 8 bytes stay 0
    std::uint8_t keystream_[4096];
    std::size_t used_ = sizeof keystream_;
};

}  // namespace quillon::pack
