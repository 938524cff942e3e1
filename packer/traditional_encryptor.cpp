#include "packer/traditional_encryptor.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "zip/records.h"

namespace quillon::pack {

traditional_encryptor::traditional_encryptor(std::string_view passphrase, std::uint32_t crc) : crc_(crc) {
    cipher_.passphrase.assign(passphrase.data(), passphrase.size());
    cipher_.reset();
    OPENSSL_cleanse(cipher_.passphrase.data(), cipher_.passphrase.size());
    cipher_.passphrase.clear();
}

std::vector<std::uint8_t> traditional_encryptor::header() {
    std::vector<std::uint8_t> bytes(format::zip::records::encryption_header_len);
    random_bytes(bytes.data(), bytes.size() - 1);
    bytes.back() = static_cast<std::uint8_t>(crc_ >> 24);
    encrypt(bytes.data(), bytes.size());
    return bytes;
}

void traditional_encryptor::encrypt(std::uint8_t* bytes, std::size_t length) {
    constexpr std::size_t most = std::uint32_t{1} << 30;
    for (std::size_t at = 0; at < length; at += most)
        cipher_.encrypt(bytes + at, static_cast<std::uint32_t>(std::min(most, length - at)));
}

}  // namespace quillon::pack
