// The traditional PKWARE stream cipher of Zip: three 32-bit keys started
// from the passphrase and advanced by every plaintext byte.
#pragma once

#include <cstdint>
#include <string>

#include "zip/cipher.h"

namespace format::zip {

class traditional_cipher : public format::cipher {
public:
    // Keys from `passphrase` (the raw bytes as typed).
    void reset() override;
    void encrypt(std::uint8_t* bytes, std::uint32_t length) override;
    void decrypt(std::uint8_t* bytes, std::uint32_t length) override;

    std::string passphrase;

    // The key state, for tests.
    std::uint32_t key(int index) const { return keys_[index]; }

private:
    void update_keys(std::uint8_t plain);
    std::uint8_t keystream_byte() const;

    std::uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
};

}  // namespace format::zip
