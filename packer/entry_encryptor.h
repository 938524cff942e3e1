// Encryption of one entry's data as the packer writes it: bytes in front
// of the data (the traditional encryption header, or WinZip AES's salt and
// password verifier), the data encrypted in pieces of any length, and bytes
// after it (AES's authentication code).
//
// Every random byte the packer writes (salts, the traditional header's
// filler) comes from `random_bytes`, OpenSSL's generator: the archive
// differs from one run to the next in those bytes only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon::pack {

class entry_encryptor {
public:
    entry_encryptor() = default;
    entry_encryptor(const entry_encryptor&) = delete;
    entry_encryptor& operator=(const entry_encryptor&) = delete;
    virtual ~entry_encryptor() = default;

    // What goes in front of the encrypted data.
    virtual std::vector<std::uint8_t> header() = 0;
    // Encrypts `length` bytes in place; pieces follow one another.
    virtual void encrypt(std::uint8_t* bytes, std::size_t length) = 0;
    // What goes after the encrypted data, once all of it is encrypted.
    virtual std::vector<std::uint8_t> trailer() = 0;
};

// Fills `bytes` with `length` random bytes; throws `failure` when the
// system has none to give.
void random_bytes(std::uint8_t* bytes, std::size_t length);

}  // namespace quillon::pack
