// The central directory record of one entry: the local header's fields
// and the entry's place in the archive.
#pragma once

#include <cstdint>
#include <string>

#include "zip/local_header.h"

namespace format::zip {

class central_header : public local_header {
public:
    central_header();

    // The signature alone.
    bool valid() const override;
    std::uint32_t read(stream::input& input, bool strict) override;

    std::uint16_t version_made_by = 0;
    std::uint16_t disk_number_start = 0;
    std::uint16_t internal_attributes = 0;
    std::uint32_t external_attributes = 0;
    std::uint32_t local_header_offset = 0;
    std::string comment;
};

}  // namespace format::zip
