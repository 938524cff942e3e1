// The local file header in front of each entry's data, and the decoding of
// entry names that it shares with the central directory record.
#pragma once

#include <cstdint>
#include <string>

#include "io/path.h"
#include "io/text/string.h"
#include "io/time.h"
#include "zip/header.h"

namespace format::zip {

class local_header : public format::header {
public:
    // General purpose flag bits.
    static constexpr std::uint16_t encrypted_flag = 1 << 0;
    static constexpr std::uint16_t descriptor_flag = 1 << 3;
    static constexpr std::uint16_t utf8_flag = 1 << 11;
    // The highest "version needed to extract" this reader accepts.
    static constexpr std::uint16_t highest_version = 25;

    local_header() = default;

    // Signature, method (at most 10 and not 7, as a signed number) and
    // version needed (at most 25).
    bool valid() const override;
    // Returns the number of bytes consumed.
    std::uint32_t read(stream::input& input, bool strict) override;

    // Whether a method, taken as a signed 16-bit number, is one this reader
    // knows of at all (0 to 6, 8 to 10, and every negative value).
    static bool known_method(std::uint16_t method);

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
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    // Split at "/", "." components dropped, a trailing "/" removed.
    io::path name;
    // The decoded name as one text, for messages.
    any::string name_text;
    std::string extra;
    std::uint8_t signature[4] = {0x50, 0x4B, 0x03, 0x04};

protected:
    // Reads the fixed fields common to both records, from `version_needed`
    // through `uncompressed_size`.
    void read_common(stream::input& fields);
    // Decodes `bytes` by the flags and the extra field already read, and
    // parses them into `name`.
    void set_name(const std::string& bytes);
    bool signature_is(const std::uint8_t (&expected)[4]) const;
};

}  // namespace format::zip
