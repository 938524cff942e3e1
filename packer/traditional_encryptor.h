// The traditional (weak) Zip encryption, write side: the three keys of the
// reader's cipher, stepped with the plain bytes.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::pack {

class traditional_encryptor {
public:
    explicit traditional_encryptor(const std::string& passphrase);

    std::uint8_t encrypt(std::uint8_t plain) {
        std::uint8_t cipher = plain ^ key_byte();
        update(plain);
        return cipher;
    }
    void encrypt(std::uint8_t* bytes, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) bytes[i] = encrypt(bytes[i]);
    }

    // The 12-byte encryption header: 11 random bytes and the CRC's high
    // byte, which the reader checks the passphrase against.
    void make_header(std::uint32_t crc, std::uint8_t header[12]);

private:
    std::uint8_t key_byte() const {
        std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
        return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
    }
    void update(std::uint8_t plain);

    std::uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
};

}  // namespace quillon::pack
