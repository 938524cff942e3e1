// The Zip64 end of central directory record and its locator, which sits
// right before the classic end record. An archive with more than 65535
// entries, or a directory beyond 4 GiB, keeps its true count, size and
// offset here; the classic record then holds the all-ones markers.
#pragma once

#include <cstdint>

#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class zip64_locator : public format::header {
public:
    bool valid() const override { return signature_is(signature, records::zip64_locator_signature); }
    std::uint32_t read(stream::input& input, bool strict) override;
    std::uint32_t size() const override { return records::zip64_locator_len; }

    std::uint32_t end_disk = 0;
    std::uint64_t end_offset = 0;
    std::uint32_t total_disks = 0;
    records::signature_bytes signature = records::bytes_of(records::zip64_locator_signature);
};

class zip64_end_header : public format::header {
public:
    bool valid() const override { return signature_is(signature, records::zip64_end_signature); }
    // Reads the fixed fields; the extensible data sector that may follow is
    // not read.
    std::uint32_t read(stream::input& input, bool strict) override;
    std::uint32_t size() const override { return records::zip64_end_len; }

    std::uint64_t record_size = 0;
    std::uint16_t version_made_by = 0;
    std::uint16_t version_needed = 0;
    std::uint32_t this_disk = 0;
    std::uint32_t directory_disk = 0;
    std::uint64_t disk_entries = 0;
    std::uint64_t total_entries = 0;
    std::uint64_t directory_size = 0;
    std::uint64_t directory_offset = 0;
    records::signature_bytes signature = records::bytes_of(records::zip64_end_signature);
};

}  // namespace format::zip
