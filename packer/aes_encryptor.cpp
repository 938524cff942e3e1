#include "packer/aes_encryptor.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>

#include "packer/output_file.h"
#include "zip/aes_cipher.h"

namespace quillon::pack {

namespace {

using format::zip::aes_cipher;

constexpr std::size_t block = 16;

[[noreturn]] void crypto_failed(const char* what) { throw failure{std::string("OpenSSL failed to ") + what}; }

}  // namespace

std::uint32_t aes_encryptor::overhead() { return aes_cipher::overhead(strength); }

aes_encryptor::aes_encryptor(std::string_view passphrase) : salt_(aes_cipher::salt_length(strength)) {
    random_bytes(salt_.data(), salt_.size());
    const std::uint32_t key_length = aes_cipher::key_length(strength);
    // The AES key, the HMAC key and the verifier, in that order.
    std::vector<std::uint8_t> keys(2 * key_length + aes_cipher::verifier_length);
    const bool derived = PKCS5_PBKDF2_HMAC_SHA1(passphrase.data(), static_cast<int>(passphrase.size()), salt_.data(),
                                                static_cast<int>(salt_.size()), aes_cipher::iterations,
                                                static_cast<int>(keys.size()), keys.data()) == 1;
    std::memcpy(verifier_, keys.data() + 2 * key_length, sizeof verifier_);
    aes_ = EVP_CIPHER_CTX_new();
    bool ready = derived && aes_ && EVP_EncryptInit_ex(aes_, EVP_aes_256_ecb(), nullptr, keys.data(), nullptr) == 1 &&
                 EVP_CIPHER_CTX_set_padding(aes_, 0) == 1;
    EVP_MAC* hmac = ready ? EVP_MAC_fetch(nullptr, "HMAC", nullptr) : nullptr;
    mac_ = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
    EVP_MAC_free(hmac);
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    ready = ready && mac_ && EVP_MAC_init(mac_, keys.data() + key_length, key_length, params) == 1;
    OPENSSL_cleanse(keys.data(), keys.size());
    if (!ready) {
        EVP_MAC_CTX_free(mac_);
        EVP_CIPHER_CTX_free(aes_);
        crypto_failed("derive the AES keys");
    }
}

aes_encryptor::~aes_encryptor() {
    OPENSSL_cleanse(keystream_, sizeof keystream_);
    EVP_MAC_CTX_free(mac_);
    EVP_CIPHER_CTX_free(aes_);
}

std::vector<std::uint8_t> aes_encryptor::header() {
    std::vector<std::uint8_t> bytes(salt_);
    bytes.insert(bytes.end(), verifier_, verifier_ + sizeof verifier_);
    return bytes;
}

// The next blocks of keystream: the counter blocks, each the block's number
// as a 16-byte little-endian integer, encrypted.
void aes_encryptor::next_keystream() {
    std::uint8_t counters[sizeof keystream_] = {};
    for (std::size_t at = 0; at < sizeof counters; at += block) {
        ++counter_;
        for (unsigned i = 0; i < 8; ++i) counters[at + i] = static_cast<std::uint8_t>(counter_ >> (8 * i));
    }
    int written = 0;
    if (EVP_EncryptUpdate(aes_, keystream_, &written, counters, sizeof counters) != 1 ||
        written != static_cast<int>(sizeof keystream_))
        crypto_failed("encrypt");
    used_ = 0;
}

void aes_encryptor::encrypt(std::uint8_t* bytes, std::size_t length) {
    std::uint8_t* const start = bytes;
    const std::size_t total = length;
    while (length > 0) {
        if (used_ == sizeof keystream_) next_keystream();
        const std::size_t n = std::min(length, sizeof keystream_ - used_);
        for (std::size_t i = 0; i < n; ++i) bytes[i] ^= keystream_[used_ + i];
        used_ += n, bytes += n, length -= n;
    }
    if (EVP_MAC_update(mac_, start, total) != 1) crypto_failed("authenticate");
}

std::vector<std::uint8_t> aes_encryptor::trailer() {
    std::uint8_t code[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(mac_, code, &length, sizeof code) != 1 || length < aes_cipher::code_length)
        crypto_failed("authenticate");
    return std::vector<std::uint8_t>(code, code + aes_cipher::code_length);
}

}  // namespace quillon::pack
