// What the local header and the central directory record of an entry both
// hold: the fields from "version needed" to the sizes, the name and the
// extra field. Each record keeps one of these; the records themselves differ
// only in what surrounds it. `supported` is the one rule of which entries
// this reader can extract.
#pragma once

#include <cstdint>
#include <string>

#include "io/path.h"
#include "io/text/string.h"
#include "io/time.h"
#include "stream/input.h"
#include "zip/records.h"

namespace format::zip {

struct entry_fields {
    // The highest "version needed to extract" this reader accepts (its low
    // byte: the high byte is not part of the version): 4.5, Zip64, for
    // stored and deflated entries; 6.3 for the methods and the encryption
    // that came with it (zip/method.cpp).
    static constexpr std::uint16_t highest_version = 45;
    static constexpr std::uint16_t highest_later_version = 63;

    // Reads the fixed fields from `version_needed` through
    // `uncompressed_size`, the order both records share.
    void read_fixed(stream::input& input);
    // Decodes the raw name by the flags and the extra field already read and
    // splits it into `name`.
    void set_name(const std::string& bytes);
    // Takes from the Zip64 extra field (0x0001) exactly the values whose
    // classic field holds the all-ones marker, in the format's order: the
    // uncompressed size, the compressed size, then `offset` and `disk` where
    // the record has them (null for the local header). A block too short
    // for what it must hold throws "bad Zip64 extra field" from `where`.
    void read_zip64(std::uint64_t* offset, std::uint32_t* disk, const char* where);
    // The modification time in UTC from the NTFS (0x000a) or the extended
    // timestamp (0x5455) extra field, when there is one: it replaces the DOS
    // local time in `modified` (which must hold it already: it tells the
    // two readings of the extended timestamp apart) and sets `exact_time`.
    void read_exact_time();

    // The AES extra field (0x9901) of an entry of method 99: its vendor
    // version (AE-1, AE-2), strength and the method of the decrypted data.
    // A field of the wrong length or an unknown strength throws "bad AES
    // extra field" from `where`.
    void read_aes(const char* where);

    bool encrypted() const { return flags & records::encrypted_flag; }
    bool aes() const { return aes_strength != 0; }
    // The method the data is decoded with, once decrypted.
    std::uint16_t data_method() const { return aes() ? aes_method : method; }
    bool has_descriptor() const { return flags & records::descriptor_flag; }

    // Entry name bytes as their writer meant them: UTF-8 when flag bit 11 says
    // so; else the Unicode Path extra field (0x7075) when its CRC matches the
    // stored name; else UTF-8 when the bytes are valid UTF-8 and not plain
    // ASCII; else the OEM code page on Windows and code page 437 elsewhere.
    static any::string decode_name(const std::string& bytes, std::uint16_t flags, const std::string& extra);
    static bool is_utf8(const std::string& bytes);

    bool is_directory = false;
    std::uint16_t version_needed = 20;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    io::time modified;
    // High byte of the DOS time word: the check byte of encrypted entries
    // whose CRC follows the data.
    std::uint8_t check_byte = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    // The name as stored, decoded: what a local header's name must match.
    any::string stored_name;
    // Its normal form (zip/name_rules.h), which every rule, the writing and
    // the listing see: the components, and as one text for messages and
    // listings ("/" after a folder's name).
    io::path name;
    any::string name_text;
    std::string extra;
    // The record carried a Zip64 extra field: its data descriptor, if any,
    // holds sizes of 8 bytes.
    bool zip64 = false;
    // `modified` came from an extra field, not from the DOS fields.
    bool exact_time = false;
    // WinZip AES: 1 to 3 (AES-128, -192, -256), 0 when not; AE-1 or AE-2.
    std::uint8_t aes_strength = 0;
    std::uint16_t aes_version = 0;
    std::uint16_t aes_method = 0;
};

// Whether a method, taken as a signed 16-bit number, is one the format
// defines at all and this reader knows of (0 to 6, 8 to 10, every negative
// value, the later methods it decodes and AES): a record with another is
// not a record of an entry.
bool known_method(std::uint16_t method);
// Whether "version needed to extract" asks for no more than this reader has
// for the entry's method and encryption.
bool readable_version(const entry_fields& fields);
// What this reader extracts: stored and deflated data of a readable version.
// The directory scan refuses an archive with any other entry before anything
// is written, and the item reader and the listing programs ask the same.
bool supported(const entry_fields& fields);

}  // namespace format::zip
