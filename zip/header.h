// Base of every fixed binary record of an archive. A record is read from
// the input's current position; `strict` makes signature and length
// mismatches throw, lenient reads take whatever the input holds (used only
// while probing for the end record).
#pragma once

#include <cstdint>
#include <string>

#include "stream/input.h"
#include "zip/records.h"

namespace format {

class header {
public:
    header() = default;
    header(const header&) = default;
    header& operator=(const header&) = default;
    virtual ~header() = default;

    // Whether the record read last is acceptable.
    virtual bool valid() const { return true; }
    // Reads the record and returns the number of bytes consumed.
    virtual std::uint32_t read(stream::input& /*input*/, bool /*strict*/) { return 0; }
    // The record's size in bytes; 0 for records of variable layout.
    virtual std::uint32_t size() const { return 0; }

    // Reads `count` bytes of a field that the record declares `length` bytes
    // long (names, extra fields, comments) and skips the rest of it. A
    // lenient read of a short input fills the missing bytes with zeros.
    static std::string read_string(stream::input& input, std::uint32_t count, std::uint32_t length, bool strict);

    // Reads 4 signature bytes; a short input leaves the missing ones zero.
    static void read_signature(stream::input& input, zip::records::signature_bytes& signature);
    static bool signature_is(const zip::records::signature_bytes& signature, std::uint32_t expected);

    // Reads until `length` bytes came or the input ends; a short read before
    // the end is allowed by the stream contract and must not truncate a field.
    static std::uint32_t read_fully(stream::input& input, std::uint8_t* buffer, std::uint32_t length);
};

}  // namespace format
