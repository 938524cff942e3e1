// Writes a Zip archive entry by entry into an output file, with every offset
// counted from the start of that file (so an archive written after a stub
// needs no later adjustment).
//
// Zip64 is written where the classic fields cannot hold a value, and only
// there, so that small archives stay classic: a local header whose sizes
// may reach 4 GiB holds both in a Zip64 extra field (the classic ones
// 0xFFFFFFFF); a central record holds in its Zip64 extra field exactly the
// values that do not fit (the uncompressed size, the compressed size, the
// offset, in that order); the Zip64 end record and its locator come before
// the end record when the count, the directory's size or its offset do not
// fit, and the end record then holds the markers for those. Records with a
// Zip64 extra field need version 4.5, the others 2.0; LZMA and Zstandard
// entries 6.3. A WinZip AES entry (AE-2, AES-256) names method 99 and holds
// its real method in an AES extra field, in its local and its central
// record, with the CRC 0; it needs version 5.1. An LZMA entry's flags say
// that its data ends with an end-of-stream marker.
//
// Every entry records its Unix mode (made by Unix, the mode in the high 16
// bits of the external attributes, with the DOS read-only and folder bits)
// and its modification time twice: as DOS local time and, in UTC seconds, in
// an extended timestamp extra field, in its local and its central record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/output_file.h"
#include "zip/records.h"

namespace quillon::pack {

// What one entry records besides its data.
struct entry_info {
    std::string name;             // "/" separated, folders end with "/"
    std::int64_t modified = 0;    // Unix seconds
    std::uint32_t unix_mode = 0;  // st_mode, the type bits included
};

// How an entry's data is encrypted.
enum class encryption { none, traditional, aes };

// What the headers say of an entry's data.
struct entry_data {
    std::uint16_t method = 0;  // of the data as compressed: records::stored, deflated, lzma, zstandard
    encryption cipher = encryption::none;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;  // as written, what the encryption adds included
    std::uint64_t uncompressed = 0;
};

class zip_writer {
public:
    explicit zip_writer(output_file& out) : out_(out) {}

    // Writes the local header; the caller then writes the data. With
    // `zip64_sizes` the header holds its sizes in a Zip64 extra field: for
    // data whose sizes may reach 4 GiB.
    void begin_entry(const entry_info& info, const entry_data& data, bool zip64_sizes);
    // After the data: rewrites the local header with what is known only
    // now (for data written in pieces: the method, the CRC, the compressed
    // size) and keeps the entry for the directory.
    void end_entry(const entry_data& data);
    // Writes the central directory and the end records, the end record
    // with `comment` (at most 65535 bytes).
    void finish(const std::string& comment = "");

    // Whether sizes this large need the Zip64 extra field.
    static bool needs_zip64(std::uint64_t size) { return size >= format::zip::records::zip64_u32; }

private:
    struct entry {
        entry_info info;
        entry_data data;
        std::uint64_t offset;
        bool zip64_sizes;
    };

    std::vector<std::uint8_t> local_header(const entry& e) const;
    std::vector<std::uint8_t> central_record(const entry& e) const;
    void write_end_records(std::uint64_t start, std::uint64_t size, const std::string& comment);

    output_file& out_;
    std::vector<entry> entries_;
    entry current_{};
};

// DOS date and time (local time, two-second resolution) of a Unix time.
void to_dos_time(std::int64_t unix_seconds, std::uint16_t& time, std::uint16_t& date);

}  // namespace quillon::pack
