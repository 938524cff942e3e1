#include "zip/local_header.h"

#include <cstring>

#include "errors/exception.h"
#include "stream/endian_input.h"
#include "zip/checksum/crc32.h"

namespace format::zip {

namespace {

constexpr std::uint8_t local_signature[4] = {0x50, 0x4B, 0x03, 0x04};
constexpr std::uint16_t unicode_path_id = 0x7075;

std::uint32_t crc_of(const std::string& bytes) {
    algorithm::crc32 crc;
    crc.update(bytes.data(), bytes.size());
    crc.finish();
    return crc.value();
}

std::uint32_t le16(const std::string& bytes, std::size_t at) {
    return std::uint8_t(bytes[at]) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8;
}

// The UTF-8 name of a Unicode Path extra block (version 1, CRC-32 of the
// stored name, the name) whose CRC matches `stored`; false when there is none.
bool unicode_path(const std::string& extra, const std::string& stored, std::string& name) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::uint32_t id = le16(extra, at);
        const std::uint32_t length = le16(extra, at + 2);
        at += 4;
        if (length > extra.size() - at) return false;  // a block that runs past the field
        if (id == unicode_path_id && length >= 5 && extra[at] == 1) {
            const std::uint32_t crc = le16(extra, at + 1) | le16(extra, at + 3) << 16;
            if (crc == crc_of(stored)) {
                name = extra.substr(at + 5, length - 5);
                return true;
            }
        }
        at += length;
    }
    return false;
}

bool plain_ascii(const std::string& bytes) {
    for (char c : bytes)
        if (static_cast<std::uint8_t>(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool local_header::known_method(std::uint16_t method) {
    const auto value = static_cast<std::int16_t>(method);
    return value <= 10 && value != 7;
}

bool local_header::signature_is(const std::uint8_t (&expected)[4]) const {
    return std::memcmp(signature, expected, 4) == 0;
}

bool local_header::valid() const {
    return signature_is(local_signature) && known_method(method) && version_needed <= highest_version;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool local_header::is_utf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint32_t low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        if (p[i + 1] < low || p[i + 1] > high) return false;
        for (std::size_t k = 2; k <= extra; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

any::string local_header::decode_name(const std::string& bytes, std::uint16_t flags, const std::string& extra) {
    if (flags & utf8_flag) return any::string::from_utf8(bytes);
    std::string unicode;
    if (unicode_path(extra, bytes, unicode)) return any::string::from_utf8(unicode);
    if (!plain_ascii(bytes) && is_utf8(bytes)) return any::string::from_utf8(bytes);
#ifdef _WIN32
    return any::string(bytes);  // the OEM code page
#else
    return any::string::from_code_page_437(bytes);
#endif
}

void local_header::read_common(stream::input& input) {
    stream::little_endian_input fields(input);
    version_needed = static_cast<std::uint16_t>(fields.read_u16());
    flags = static_cast<std::uint16_t>(fields.read_u16());
    method = static_cast<std::uint16_t>(fields.read_u16());
    const auto time = static_cast<std::uint16_t>(fields.read_u16());
    const auto date = static_cast<std::uint16_t>(fields.read_u16());
    modified = io::time::from_dos(date, time);
    check_byte = static_cast<std::uint8_t>(time >> 8);
    crc = fields.read_u32();
    compressed_size = fields.read_u32();
    uncompressed_size = fields.read_u32();
}

void local_header::set_name(const std::string& bytes) {
    name_text = decode_name(bytes, flags, extra);
    name = io::path(name_text, u"/");
    is_directory = !name.empty() && name.components().back().empty();
    if (is_directory) name.pop_back();
}

std::uint32_t local_header::read(stream::input& input, bool strict) {
    const stream::size_type start = input.position();
    read_signature(input, signature);
    if (strict && !signature_is(local_signature))
        throw format::exception("bad header artfact", "format::zip::local_header");
    read_common(input);
    stream::little_endian_input fields(input);
    const std::uint32_t name_length = fields.read_u16();
    const std::uint32_t extra_length = fields.read_u16();
    const std::string name_bytes = read_string(input, name_length, name_length, strict);
    extra = read_string(input, extra_length, extra_length, strict);
    set_name(name_bytes);
    return static_cast<std::uint32_t>(input.position() - start);
}

}  // namespace format::zip
