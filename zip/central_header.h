// The central directory record of one entry: the fields it shares with the
// local header, and the entry's place in the archive and its attributes.
#pragma once

#include <cstdint>
#include <string>

#include "zip/entry_fields.h"
#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class central_header : public format::header {
public:
    // The signature alone: what the entry holds is judged by `supported`.
    bool valid() const override;
    std::uint32_t read(stream::input& input, bool strict) override;

    entry_fields fields;
    std::uint16_t version_made_by = 0;
    std::uint32_t disk_number_start = 0;  // 32 bits in a Zip64 record
    std::uint16_t internal_attributes = 0;
    std::uint32_t external_attributes = 0;
    std::uint64_t local_header_offset = 0;
    std::string comment;

    // The POSIX mode in the external attributes when the record was made on
    // a Unix system and carries one; 0 otherwise.
    std::uint32_t unix_mode() const;
    // A symbolic link made on Unix: its target is the entry's data.
    bool is_link() const;
    records::signature_bytes signature = records::bytes_of(records::central_signature);
};

}  // namespace format::zip
