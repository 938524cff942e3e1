#include "zip/traditional_cipher.h"

#include "zip/checksum/crc_table.h"

namespace format::zip {

void traditional_cipher::reset() {
    keys_[0] = 0x12345678;
    keys_[1] = 0x23456789;
    keys_[2] = 0x34567890;
    for (char c : passphrase) update_keys(static_cast<std::uint8_t>(c));
}

void traditional_cipher::update_keys(std::uint8_t plain) {
    keys_[0] = algorithm::crc_step(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = algorithm::crc_step(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

std::uint8_t traditional_cipher::keystream_byte() const {
    const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
    return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void traditional_cipher::decrypt(std::uint8_t* bytes, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint8_t plain = bytes[i] ^ keystream_byte();
        update_keys(plain);
        bytes[i] = plain;
    }
}

void traditional_cipher::encrypt(std::uint8_t* bytes, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint8_t key = keystream_byte();
        update_keys(bytes[i]);
        bytes[i] ^= key;
    }
}

}  // namespace format::zip
