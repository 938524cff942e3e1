// The local file header in front of each entry's data.
#pragma once

#include <cstdint>

#include "zip/entry_fields.h"
#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class local_header : public format::header {
public:
    // The signature, a method the format defines and a version this reader
    // has (whether the entry can be extracted is `supported`'s question).
    bool valid() const override;
    // Returns the number of bytes consumed.
    std::uint32_t read(stream::input& input, bool strict) override;

    entry_fields fields;
    records::signature_bytes signature = records::bytes_of(records::local_signature);
};

}  // namespace format::zip
