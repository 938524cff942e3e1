// Writes what ends a Zip archive after its central directory: the end
// record with the archive comment and, before it, the Zip64 end record and
// its locator when the number of entries, the directory's size or its
// offset do not fit the end record's fields (which then hold the
// "see Zip64" markers for those). New archives and appended ones both end
// with these bytes.
#pragma once

#include <cstdint>
#include <string>

#include "zip/byte_buffer.h"

namespace format::zip {

// Where a central directory lies: its number of records, its size and the
// offset of its first byte, as the end records count it.
struct directory_place {
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

class end_records_writer {
public:
    // Whether the directory needs the Zip64 end record and locator.
    static bool needs_zip64(const directory_place& place);
    // The Zip64 end record, to stand at `at`, and its locator after it.
    static void put_zip64(byte_buffer& out, const directory_place& place, std::uint64_t at);
    // The end record with `comment` (at most records::max_comment bytes).
    static void put_end(byte_buffer& out, const directory_place& place, const std::string& comment);
    // Both, the Zip64 records only where needed, for records that begin at
    // `at` (right after the directory).
    static byte_buffer records(const directory_place& place, std::uint64_t at, const std::string& comment);
};

}  // namespace format::zip
