// The fixed records of a Zip archive as the format lays them out: their
// signatures, fixed lengths and field offsets, and the flag bits and extra
// field tags this code understands. Reader and packer both take them from
// here, so each fact is written once.
#pragma once

#include <cstdint>

namespace format::zip::records {

// Signatures, as the little-endian 32-bit numbers that start each record
// ("PK" and two bytes).
constexpr std::uint32_t local_signature = 0x04034B50;          // PK 3 4
constexpr std::uint32_t central_signature = 0x02014B50;        // PK 1 2
constexpr std::uint32_t end_signature = 0x06054B50;            // PK 5 6
constexpr std::uint32_t descriptor_signature = 0x08074B50;     // PK 7 8
constexpr std::uint32_t zip64_end_signature = 0x06064B50;      // PK 6 6
constexpr std::uint32_t zip64_locator_signature = 0x07064B50;  // PK 6 7

// The signature's four bytes in file order.
struct signature_bytes {
    std::uint8_t bytes[4];
};
constexpr signature_bytes bytes_of(std::uint32_t signature) {
    return {{static_cast<std::uint8_t>(signature), static_cast<std::uint8_t>(signature >> 8),
             static_cast<std::uint8_t>(signature >> 16), static_cast<std::uint8_t>(signature >> 24)}};
}

// Local file header: 30 bytes, then the name and the extra field.
constexpr std::uint32_t local_header_len = 30;  // + name + extra
namespace local {
constexpr std::uint32_t version_needed = 4;
constexpr std::uint32_t flags = 6;
constexpr std::uint32_t method = 8;
constexpr std::uint32_t time = 10;
constexpr std::uint32_t date = 12;
constexpr std::uint32_t crc = 14;
constexpr std::uint32_t compressed_size = 18;
constexpr std::uint32_t uncompressed_size = 22;
constexpr std::uint32_t name_length = 26;
constexpr std::uint32_t extra_length = 28;
static_assert(extra_length + 2 == local_header_len, "the extra length is the last fixed field");
}  // namespace local

// Central directory file header: 46 bytes, then the name, the extra field
// and the comment. Its fields from the version needed to the extra length
// are the local header's, two bytes further on.
constexpr std::uint32_t central_header_len = 46;  // + name + extra + comment
namespace central {
constexpr std::uint32_t version_made_by = 4;
constexpr std::uint32_t shared_fields = 6;  // the local header's fields from offset 4
constexpr std::uint32_t name_length = 28;
constexpr std::uint32_t extra_length = 30;
constexpr std::uint32_t comment_length = 32;
constexpr std::uint32_t disk_number_start = 34;
constexpr std::uint32_t internal_attributes = 36;
constexpr std::uint32_t external_attributes = 38;
constexpr std::uint32_t local_header_offset = 42;
static_assert(local_header_offset + 4 == central_header_len, "the offset is the last fixed field");
static_assert(name_length - shared_fields == local::name_length - local::version_needed,
              "the shared fields have the same layout in both records");
}  // namespace central

// End of central directory record: 22 bytes, then the archive comment.
constexpr std::uint32_t end_len = 22;  // + comment
constexpr std::uint32_t max_comment = 0xFFFF;
namespace end {
constexpr std::uint32_t this_disk = 4;
constexpr std::uint32_t directory_disk = 6;
constexpr std::uint32_t disk_entries = 8;
constexpr std::uint32_t total_entries = 10;
constexpr std::uint32_t directory_size = 12;
constexpr std::uint32_t directory_offset = 16;
constexpr std::uint32_t comment_length = 20;
static_assert(comment_length + 2 == end_len, "the comment length is the last fixed field");
}  // namespace end

// Data descriptor after an entry's data (flag bit 3): the signature, which
// writers may leave out, then CRC-32 and the two sizes, of 4 bytes each or
// of 8 bytes each in a Zip64 entry.
constexpr std::uint32_t descriptor_len = 16;
constexpr std::uint32_t zip64_descriptor_len = 24;

// The traditional encryption header in front of an encrypted entry's data.
constexpr std::uint32_t encryption_header_len = 12;

// Zip64 end of central directory record: 56 bytes, then an extensible data
// sector that nothing here uses.
constexpr std::uint32_t zip64_end_len = 56;
namespace zip64_end {
constexpr std::uint32_t record_size = 4;  // of what follows this field: 44 + the data sector
constexpr std::uint32_t version_made_by = 12;
constexpr std::uint32_t version_needed = 14;
constexpr std::uint32_t this_disk = 16;
constexpr std::uint32_t directory_disk = 20;
constexpr std::uint32_t disk_entries = 24;
constexpr std::uint32_t total_entries = 32;
constexpr std::uint32_t directory_size = 40;
constexpr std::uint32_t directory_offset = 48;
static_assert(directory_offset + 8 == zip64_end_len, "the directory offset is the last fixed field");
}  // namespace zip64_end

// Zip64 end of central directory locator: 20 bytes right before the end
// record.
constexpr std::uint32_t zip64_locator_len = 20;
namespace zip64_locator {
constexpr std::uint32_t end_disk = 4;
constexpr std::uint32_t end_offset = 8;
constexpr std::uint32_t total_disks = 16;
}  // namespace zip64_locator

// The values that say "see the Zip64 records".
constexpr std::uint16_t zip64_u16 = 0xFFFF;
constexpr std::uint32_t zip64_u32 = 0xFFFFFFFF;

// General purpose flag bits.
constexpr std::uint16_t encrypted_flag = 1 << 0;
constexpr std::uint16_t descriptor_flag = 1 << 3;
constexpr std::uint16_t utf8_flag = 1 << 11;
// Of an LZMA entry: its data ends with an end-of-stream marker.
constexpr std::uint16_t lzma_end_marker_flag = 1 << 1;

// Compression methods.
constexpr std::uint16_t stored = 0;
constexpr std::uint16_t deflated = 8;
constexpr std::uint16_t deflate64 = 9;
constexpr std::uint16_t lzma = 14;
constexpr std::uint16_t zstandard = 93;
// WinZip's AES encryption: the real method is in the AES extra field.
constexpr std::uint16_t aes_encrypted = 99;

// Extra field blocks: a 2-byte tag and a 2-byte length in front of each.
constexpr std::uint32_t extra_block_header_len = 4;
constexpr std::uint16_t zip64_extra = 0x0001;
constexpr std::uint16_t ntfs_extra = 0x000A;
constexpr std::uint16_t unix_time_extra = 0x5455;  // "UT"
constexpr std::uint16_t unicode_path_extra = 0x7075;
// WinZip AES: vendor version (2 bytes: 1 for AE-1, 2 for AE-2), vendor
// "AE", strength (1 byte: 1, 2, 3 for AES-128, -192, -256), the method of
// the data once decrypted (2 bytes).
constexpr std::uint16_t aes_extra = 0x9901;
constexpr std::uint32_t aes_extra_len = 7;
constexpr std::uint16_t aes_vendor_ae2 = 2;      // AE-2: the CRC is not stored (0), the code checks the data
constexpr std::uint16_t aes_vendor_id = 0x4541;  // "AE"

// "Version made by": the high byte names the system whose attributes the
// external attributes hold.
constexpr std::uint8_t unix_host = 3;

// Versions of the format, ten times the number, as "version needed to
// extract" and the low byte of "version made by" hold them.
constexpr std::uint16_t version_classic = 20;          // Deflate, folders, traditional encryption
constexpr std::uint16_t version_unix_attributes = 30;  // what the packer says it follows
constexpr std::uint16_t version_zip64 = 45;
constexpr std::uint16_t version_aes = 51;    // WinZip AES entries
constexpr std::uint16_t version_later = 63;  // LZMA and Zstandard entries
// A Unix mode, in the high 16 bits of the external attributes: its file
// type bits, and the types the reader tells apart.
constexpr std::uint32_t unix_type_bits = 0170000;
constexpr std::uint32_t unix_folder = 0040000;
constexpr std::uint32_t unix_link = 0120000;

}  // namespace format::zip::records
