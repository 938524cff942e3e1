// Archives built field by field, for the tests of hostile and unusual
// input. Each record is laid out here once, a comment per field; tests take
// a well-formed archive and change the one field their hazard is about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/zip/zip_bytes.h"
#include "zip/checksum/crc32.h"
#include "zip/traditional_cipher.h"

namespace zip_test {

inline std::uint32_t crc_of(const std::string& bytes) {
    algorithm::crc32 crc;
    crc.update(bytes.data(), bytes.size());
    crc.finish();
    return crc.value();
}

// A Deflate stream of one final stored block: BFINAL 1 and BTYPE 00 in the
// first byte, then LEN and its complement NLEN, then the bytes.
inline std::string deflate_stored(const std::string& content) {
    return bytes()
        .u8(0x01)  // BFINAL = 1, BTYPE = 00 (stored), padding to the byte boundary
        .u16(static_cast<std::uint32_t>(content.size()))            // LEN
        .u16(~static_cast<std::uint32_t>(content.size()) & 0xFFFF)  // NLEN
        .text(content)
        .str();
}

// DOS date and time of 2000-01-01 12:00:00, local time.
constexpr std::uint16_t dos_date = 0x2821;
constexpr std::uint16_t dos_time = 0x6000;

struct entry {
    std::string name;
    std::string content;  // what extraction must produce
    std::string data;     // the stored bytes (compressed, encrypted); `content` when empty
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint16_t version = 20;
    std::uint16_t time = dos_time;
    std::uint16_t date = dos_date;
    std::string extra;
    // The central record's own extra field, when it differs from the local.
    std::string central_extra;
    bool central_extra_set = false;
    std::uint16_t made_by = 0x031E;  // Unix, 3.0
    std::uint32_t external = 0;      // external attributes (a Unix mode in the high 16 bits)
    // Set by `archive_builder` unless a test overrides them afterwards.
    std::uint32_t crc = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint32_t offset = 0;
    // The local header's own copies where a test wants them to differ.
    std::string local_name;
    bool local_sizes_zero = false;  // flag bit 3 writers leave CRC and sizes 0
    std::int64_t local_crc = -1;    // -1: the central record's
    std::int64_t local_compressed_size = -1;
    std::int64_t local_uncompressed_size = -1;
    std::string descriptor;  // bytes right after the data
};

// An entry ready for an archive: stored content, deflated (one stored
// Deflate block), or either of them encrypted with `passphrase`.
inline entry stored_entry(const std::string& name, const std::string& content) {
    entry e;
    e.name = name;
    e.content = content;
    e.data = content;
    return e;
}

inline entry deflated_entry(const std::string& name, const std::string& content) {
    entry e = stored_entry(name, content);
    e.method = 8;
    e.data = deflate_stored(content);
    return e;
}

// Traditional encryption of `e.data`: 11 filler bytes and the check byte
// (the CRC's high byte, or the DOS time's with flag bit 3) in front.
inline entry encrypted(entry e, const std::string& passphrase) {
    e.flags |= 1;
    std::string plain = "0123456789A";
    const std::uint32_t crc = crc_of(e.content);
    plain += static_cast<char>((e.flags & 8) ? (e.time >> 8) : (crc >> 24));
    plain += e.data;
    format::zip::traditional_cipher cipher;
    cipher.passphrase = passphrase;
    cipher.reset();
    cipher.encrypt(reinterpret_cast<std::uint8_t*>(plain.data()), static_cast<std::uint32_t>(plain.size()));
    e.data = plain;
    return e;
}

// With the sizes unknown when the data was written: flag bit 3, zeros in the
// local header and a data descriptor after the data.
inline entry with_descriptor(entry e) {
    e.flags |= 8;
    e.local_sizes_zero = true;
    e.descriptor = "with signature";
    return e;
}

class archive_builder {
public:
    // The text in front of the archive (a program, for instance).
    std::string prefix;
    std::vector<entry> entries;
    std::string comment;
    // Offsets relative to the start of the file instead of the archive.
    bool absolute_offsets = false;
    // Overrides of end record fields.
    std::uint16_t this_disk = 0;
    int total_entries = -1;  // -1: the number of entries
    int directory_offset = -1;
    // A Zip64 end record and locator before the end record, which then holds
    // the all-ones markers; its count may be set apart.
    bool zip64_end = false;
    std::int64_t zip64_total_entries = -1;
    std::int64_t zip64_end_offset = -1;  // -1: where it is written
    // The end record keeps its own values beside the Zip64 record's
    // instead of the all-ones markers.
    bool classic_values = false;

    // Fills CRC, sizes and offsets of every entry from its content.
    void settle() {
        std::uint32_t at = absolute_offsets ? static_cast<std::uint32_t>(prefix.size()) : 0;
        for (entry& e : entries) {
            if (e.data.empty()) e.data = e.content;
            if (!e.crc) e.crc = crc_of(e.content);
            if (!e.compressed_size) e.compressed_size = static_cast<std::uint32_t>(e.data.size());
            if (!e.uncompressed_size) e.uncompressed_size = static_cast<std::uint32_t>(e.content.size());
            e.offset = at;
            at += static_cast<std::uint32_t>(local(e).size());
        }
    }

    static std::uint32_t own(std::int64_t local_value, std::uint32_t central_value) {
        return local_value >= 0 ? static_cast<std::uint32_t>(local_value) : central_value;
    }

    static bytes local(const entry& e) {
        const std::string& name = e.local_name.empty() ? e.name : e.local_name;
        const bool zero = e.local_sizes_zero;
        bytes record;
        record
            .u32(0x04034B50)                                                      // signature PK 3 4
            .u16(e.version)                                                       // version needed to extract
            .u16(e.flags)                                                         // general purpose flags
            .u16(e.method)                                                        // compression method
            .u16(e.time)                                                          // last modification time (DOS)
            .u16(e.date)                                                          // last modification date (DOS)
            .u32(zero ? 0 : own(e.local_crc, e.crc))                              // CRC-32
            .u32(zero ? 0 : own(e.local_compressed_size, e.compressed_size))      // compressed size
            .u32(zero ? 0 : own(e.local_uncompressed_size, e.uncompressed_size))  // uncompressed size
            .u16(static_cast<std::uint32_t>(name.size()))                         // file name length
            .u16(static_cast<std::uint32_t>(e.extra.size()))                      // extra field length
            .text(name)                                                           // file name
            .text(e.extra)                                                        // extra field
            .text(e.data);                                                        // the entry's data
        if (e.descriptor == "with signature")
            record
                .u32(0x08074B50)            // descriptor signature PK 7 8
                .u32(e.crc)                 // CRC-32
                .u32(e.compressed_size)     // compressed size
                .u32(e.uncompressed_size);  // uncompressed size
        else
            record.text(e.descriptor);
        return record;
    }

    static bytes central(const entry& e) {
        const std::string& extra = e.central_extra_set ? e.central_extra : e.extra;
        return bytes()
            .u32(0x02014B50)                                 // signature PK 1 2
            .u16(e.made_by)                                  // version made by
            .u16(e.version)                                  // version needed to extract
            .u16(e.flags)                                    // general purpose flags
            .u16(e.method)                                   // compression method
            .u16(e.time)                                     // last modification time (DOS)
            .u16(e.date)                                     // last modification date (DOS)
            .u32(e.crc)                                      // CRC-32
            .u32(e.compressed_size)                          // compressed size
            .u32(e.uncompressed_size)                        // uncompressed size
            .u16(static_cast<std::uint32_t>(e.name.size()))  // file name length
            .u16(static_cast<std::uint32_t>(extra.size()))   // extra field length
            .u16(0)                                          // file comment length
            .u16(0)                                          // disk number start
            .u16(0)                                          // internal attributes
            .u32(e.external)                                 // external attributes
            .u32(e.offset)                                   // offset of the local header
            .text(e.name)                                    // file name
            .text(extra);                                    // extra field
    }

    // The whole file: prefix, local records with data, central directory,
    // end record and comment.
    std::string build() {
        settle();
        bytes file;
        file.text(prefix);
        for (const entry& e : entries) file.append(local(e));
        const std::size_t directory_start = file.size();
        for (const entry& e : entries) file.append(central(e));
        const auto directory_size = static_cast<std::uint32_t>(file.size() - directory_start);
        std::uint32_t offset = static_cast<std::uint32_t>(directory_start - (absolute_offsets ? 0 : prefix.size()));
        if (directory_offset >= 0) offset = static_cast<std::uint32_t>(directory_offset);
        std::uint32_t count = total_entries >= 0 ? total_entries : static_cast<std::uint32_t>(entries.size());
        std::uint32_t classic_size = directory_size, classic_offset = offset;
        if (zip64_end) {
            const std::uint64_t zip64_count = zip64_total_entries >= 0 ? zip64_total_entries : count;
            const std::size_t record_at = file.size() - (absolute_offsets ? 0 : prefix.size());
            file.u32(0x06064B50)                                            // signature PK 6 6
                .u64(44)                                                    // size of the rest of the record
                .u16(0x032D)                                                // version made by
                .u16(45)                                                    // version needed
                .u32(0)                                                     // number of this disk
                .u32(0)                                                     // disk of the central directory
                .u64(zip64_count)                                           // central records on this disk
                .u64(zip64_count)                                           // total central records
                .u64(directory_size)                                        // size of the central directory
                .u64(offset);                                               // offset of the central directory
            file.u32(0x07064B50)                                            // signature PK 6 7
                .u32(0)                                                     // disk of the Zip64 end record
                .u64(zip64_end_offset >= 0 ? zip64_end_offset : record_at)  // its offset
                .u32(1);                                                    // total number of disks
            if (!classic_values) {
                count = 0xFFFF;
                classic_size = 0xFFFFFFFF;
                classic_offset = 0xFFFFFFFF;
            }
        }
        file.u32(0x06054B50)                                  // signature PK 5 6
            .u16(this_disk)                                   // number of this disk
            .u16(0)                                           // disk of the central directory
            .u16(count)                                       // central records on this disk
            .u16(count)                                       // total central records
            .u32(classic_size)                                // size of the central directory
            .u32(classic_offset)                              // offset of the central directory
            .u16(static_cast<std::uint32_t>(comment.size()))  // comment length
            .text(comment);                                   // comment
        return file.str();
    }
};

}  // namespace zip_test
