// The 12 bytes in front of a traditionally encrypted entry's data. Reading
// them through the cipher starts its keys on the entry; the last byte,
// decrypted, tells a wrong passphrase from a right one (255 times in 256).
#pragma once

#include <cstdint>

#include "zip/cipher.h"
#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class encryption_header : public format::header {
public:
    // `cipher` is borrowed and must outlive the header.
    explicit encryption_header(format::cipher& cipher) : cipher_(&cipher) {}

    bool valid() const override;
    // Throws "bad passphrase" in strict mode when the check byte differs.
    std::uint32_t read(stream::input& input, bool strict) override;
    std::uint32_t size() const override { return records::encryption_header_len; }

    bool enabled = false;
    // High byte of the entry's CRC, or of its DOS time when the CRC follows
    // the data (flag bit 3).
    std::uint8_t check_byte = 0;
    std::uint8_t header_bytes[records::encryption_header_len] = {};

private:
    format::cipher* cipher_;
};

}  // namespace format::zip
