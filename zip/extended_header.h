// The data descriptor: CRC and sizes written after an entry's data when they
// were not known before it (general purpose flag bit 3). Only the form with
// its signature is accepted.
#pragma once

#include <cstdint>

#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class extended_header : public format::header {
public:
    bool valid() const override;
    std::uint32_t read(stream::input& input, bool strict) override;
    std::uint32_t size() const override { return records::descriptor_len; }

    std::uint32_t crc = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    records::signature_bytes signature = records::bytes_of(records::descriptor_signature);  // "PK\a\b"
};

}  // namespace format::zip
