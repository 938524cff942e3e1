#include "zip/entry_fields.h"

#include <cstdint>

#include "errors/exception.h"
#include "stream/endian_input.h"
#include "zip/checksum/crc32.h"
#include "zip/extra_field.h"
#include "zip/method.h"
#include "zip/name_rules.h"

namespace format::zip {

namespace {

std::uint32_t crc_of(const std::string& bytes) {
    algorithm::crc32 crc;
    crc.update(bytes.data(), bytes.size());
    crc.finish();
    return crc.value();
}

std::uint32_t le16(const std::string& bytes, std::size_t at) {
    return std::uint8_t(bytes[at]) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8;
}

// The data of the first extra block tagged `tag`; false when there is none
// (or the blocks are damaged before it).
bool find_extra(const std::string& extra, std::uint16_t tag, std::string& data) {
    extra_block block;
    if (!find_extra_block(reinterpret_cast<const std::uint8_t*>(extra.data()), extra.size(), tag, block)) return false;
    data = extra.substr(block.at, block.length);
    return true;
}

// The UTF-8 name of a Unicode Path extra block (version 1, CRC-32 of the
// stored name, the name) whose CRC matches `stored`; false when there is none.
bool unicode_path(const std::string& extra, const std::string& stored, std::string& name) {
    std::string data;
    if (!find_extra(extra, records::unicode_path_extra, data) || data.size() < 5 || data[0] != 1) return false;
    const std::uint32_t crc = le16(data, 1) | le16(data, 3) << 16;
    if (crc != crc_of(stored)) return false;
    name = data.substr(5);
    return true;
}

std::uint64_t le_at(const std::string& bytes, std::size_t at, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = size; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

bool plain_ascii(const std::string& bytes) {
    for (char c : bytes)
        if (static_cast<std::uint8_t>(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool known_method(std::uint16_t method) {
    const auto value = static_cast<std::int16_t>(method);
    return (value <= 10 && value != 7) || find_method(method) != nullptr || method == records::aes_encrypted;
}

bool readable_version(const entry_fields& fields) {
    const method* decoder = find_method(fields.data_method());
    const bool later = fields.aes() || (decoder && decoder->later);
    return (fields.version_needed & 0xFF) <=
           (later ? entry_fields::highest_later_version : entry_fields::highest_version);
}

bool supported(const entry_fields& fields) {
    return find_method(fields.data_method()) != nullptr && readable_version(fields);
}

void entry_fields::read_aes(const char* where) {
    std::string data;
    if (method != records::aes_encrypted || !find_extra(extra, records::aes_extra, data)) return;
    const std::uint32_t version = data.size() >= 2 ? le16(data, 0) : 0;
    if (data.size() != records::aes_extra_len || (version != 1 && version != 2) || data[2] != 'A' || data[3] != 'E')
        throw format::exception("bad AES extra field", where);
    const auto strength = static_cast<std::uint8_t>(data[4]);
    if (strength < 1 || strength > 3)
        throw format::exception("unknown AES strength " + std::to_string(strength), where);
    aes_version = static_cast<std::uint16_t>(version);
    aes_strength = strength;
    aes_method = static_cast<std::uint16_t>(le16(data, 5));
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool entry_fields::is_utf8(const std::string& bytes) {
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

any::string entry_fields::decode_name(const std::string& bytes, std::uint16_t flags, const std::string& extra) {
    if (flags & records::utf8_flag) return any::string::from_utf8(bytes);
    std::string unicode;
    if (unicode_path(extra, bytes, unicode)) return any::string::from_utf8(unicode);
    if (!plain_ascii(bytes) && is_utf8(bytes)) return any::string::from_utf8(bytes);
#ifdef _WIN32
    return any::string(bytes);  // the OEM code page
#else
    return any::string::from_code_page_437(bytes);
#endif
}

void entry_fields::read_fixed(stream::input& input) {
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

void entry_fields::read_zip64(std::uint64_t* offset, std::uint32_t* disk, const char* where) {
    std::string data;
    if (!find_extra(extra, records::zip64_extra, data)) return;
    zip64 = true;
    std::size_t at = 0;
    auto take = [&](std::uint64_t& field, unsigned size) {
        if (data.size() - at < size) throw format::exception("bad Zip64 extra field", where);
        field = le_at(data, at, size);
        at += size;
    };
    if (uncompressed_size == records::zip64_u32) take(uncompressed_size, 8);
    if (compressed_size == records::zip64_u32) take(compressed_size, 8);
    if (offset && *offset == records::zip64_u32) take(*offset, 8);
    if (disk && *disk == records::zip64_u16) {
        std::uint64_t value = 0;
        take(value, 4);
        *disk = static_cast<std::uint32_t>(value);
    }
}

void entry_fields::read_exact_time() {
    std::string data;
    // NTFS: 4 reserved bytes, then tagged attributes; tag 1 holds the
    // modification, access and creation times in 100 ns since 1601, the
    // scale of io::time.
    if (find_extra(extra, records::ntfs_extra, data)) {
        for (std::size_t at = 4; at + 4 <= data.size();) {
            const std::uint64_t tag = le_at(data, at, 2), size = le_at(data, at + 2, 2);
            at += 4;
            if (size > data.size() - at) break;
            // A value past 2^63 is no time on either system: the other
            // fields say when.
            if (tag == 1 && size >= 8 && le_at(data, at, 8) <= std::uint64_t{INT64_MAX}) {
                modified = io::time(static_cast<std::int64_t>(le_at(data, at, 8)));
                exact_time = true;
                return;
            }
            at += size;
        }
    }
    // Extended timestamp: a flags byte, then (flag bit 0) the modification
    // time in seconds since 1970 UTC, in 32 bits that writers fill signed
    // (1901 to 2038) or unsigned (1970 to 2106). Of the two readings the
    // one nearer the entry's DOS time is meant: 136 years apart, they
    // never both fit a local time that is at most a day off.
    if (find_extra(extra, records::unix_time_extra, data) && data.size() >= 5 && (data[0] & 1)) {
        const auto stored = static_cast<std::uint32_t>(le_at(data, 1, 4));
        std::int64_t seconds = static_cast<std::int32_t>(stored);
        const std::int64_t dos_seconds = (modified.ticks() - io::time::unix_epoch) / io::time::ticks_per_second;
        const std::int64_t other = std::int64_t{stored};
        if (other != seconds && (other > dos_seconds ? other - dos_seconds : dos_seconds - other) <
                                    (seconds > dos_seconds ? seconds - dos_seconds : dos_seconds - seconds))
            seconds = other;
        modified = io::time(io::time::unix_epoch + seconds * io::time::ticks_per_second);
        exact_time = true;
    }
}

void entry_fields::set_name(const std::string& bytes) {
    stored_name = decode_name(bytes, flags, extra);
    name = normal_name(stored_name, is_directory);
    name_text = normal_text(name, is_directory);
}

}  // namespace format::zip
