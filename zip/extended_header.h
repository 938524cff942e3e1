// The data descriptor: CRC and sizes written after an entry's data when they
// were not known before it (general purpose flag bit 3). Writers may leave
// its signature out; sizes are 8 bytes each in a Zip64 entry.
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

    // Reads the descriptor that follows an entry's data, in either form. A
    // first word that is not the signature is the CRC. One that is may still
    // be a CRC of that value: the form without the signature is taken only
    // when its sizes are the ones the data had (`compressed`, `uncompressed`)
    // and those of the other form are not.
    std::uint32_t read_after(stream::input& input, std::uint64_t compressed, std::uint64_t uncompressed, bool zip64);

    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    records::signature_bytes signature = records::bytes_of(records::descriptor_signature);  // "PK\a\b"
};

}  // namespace format::zip
