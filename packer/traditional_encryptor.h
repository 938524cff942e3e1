// The traditional (weak) Zip encryption, write side, with the reader's own
// cipher (zip/traditional_cipher.h): a 12-byte header of 11 random bytes
// and the CRC's high byte, which the reader checks the passphrase against,
// then the data.
#pragma once

#include <string_view>

#include "packer/entry_encryptor.h"
#include "zip/traditional_cipher.h"

namespace quillon::pack {

class traditional_encryptor : public entry_encryptor {
public:
    // The passphrase is not kept: only the keys it gives.
    traditional_encryptor(std::string_view passphrase, std::uint32_t crc);

    std::vector<std::uint8_t> header() override;
    void encrypt(std::uint8_t* bytes, std::size_t length) override;
    std::vector<std::uint8_t> trailer() override { return {}; }

private:
    format::zip::traditional_cipher cipher_;
    std::uint32_t crc_;
};

}  // namespace quillon::pack
