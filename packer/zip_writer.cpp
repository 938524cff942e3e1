#include "packer/zip_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <limits>

#include "packer/aes_encryptor.h"
#include "zip/byte_buffer.h"
#include "zip/end_records_writer.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

namespace records = format::zip::records;
using format::zip::byte_buffer;

// Unix, so the mode in the attributes counts.
constexpr std::uint16_t version_made_by = records::unix_host << 8 | records::version_unix_attributes;
constexpr std::uint32_t dos_read_only = 0x01;
constexpr std::uint32_t dos_directory = 0x10;
// The extended timestamp: a flags byte (bit 0: the modification time
// follows) and the time, signed 32-bit seconds since 1970 UTC.
constexpr std::uint8_t unix_time_modified = 1;
constexpr std::uint32_t unix_time_len = 5;

bool is_ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::uint16_t flags_of(const entry_info& info, const entry_data& data) {
    return static_cast<std::uint16_t>((data.cipher != encryption::none ? records::encrypted_flag : 0) |
                                      (data.method == records::lzma ? records::lzma_end_marker_flag : 0) |
                                      (is_ascii(info.name) ? 0 : records::utf8_flag));
}

std::uint16_t version_needed(const entry_data& data, bool zip64) {
    if (data.method == records::lzma || data.method == records::zstandard) return records::version_later;
    if (data.cipher == encryption::aes) return records::version_aes;
    return zip64 ? records::version_zip64 : records::version_classic;
}

void put_aes_field(byte_buffer& b, const entry_data& data) {
    if (data.cipher != encryption::aes) return;
    b.put16(records::aes_extra);
    b.put16(records::aes_extra_len);
    b.put16(records::aes_vendor_ae2);
    b.put16(records::aes_vendor_id);
    b.put8(aes_encryptor::strength);
    b.put16(data.method);
}

// The extended timestamp's 32 bits: signed before 1970 (back to 1901),
// unsigned after (up to 2106), as readers tell by the DOS time beside them;
// a time beyond either end is the nearest one the field holds.
std::uint32_t unix_time_field(std::int64_t seconds) {
    const std::int64_t low = std::numeric_limits<std::int32_t>::min();
    const std::int64_t high = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::clamp(seconds, low, high));
}

void put_unix_time(byte_buffer& b, std::int64_t modified) {
    b.put16(records::unix_time_extra);
    b.put16(unix_time_len);
    b.put8(unix_time_modified);
    b.put32(unix_time_field(modified));
}

std::uint32_t classic(std::uint64_t value) {
    return zip_writer::needs_zip64(value) ? records::zip64_u32 : static_cast<std::uint32_t>(value);
}

// From the version needed to the extra field's length: the fields both
// records share.
void put_shared_fields(byte_buffer& b, const entry_info& info, const entry_data& data, bool zip64,
                       std::uint32_t compressed, std::uint32_t uncompressed, std::size_t extra_length) {
    std::uint16_t time, date;
    to_dos_time(info.modified, time, date);
    b.put16(version_needed(data, zip64));
    b.put16(flags_of(info, data));
    b.put16(data.cipher == encryption::aes ? records::aes_encrypted : data.method);
    b.put16(time);
    b.put16(date);
    b.put32(data.cipher == encryption::aes ? 0 : data.crc);
    b.put32(compressed);
    b.put32(uncompressed);
    b.put16(static_cast<std::uint32_t>(info.name.size()));
    b.put16(static_cast<std::uint32_t>(extra_length));
}

std::uint32_t external_attributes(std::uint32_t mode) {
    return mode << 16 | (S_ISDIR(mode) ? dos_directory : 0) | ((mode & S_IWUSR) ? 0 : dos_read_only);
}

}  // namespace

void to_dos_time(std::int64_t unix_seconds, std::uint16_t& time, std::uint16_t& date) {
    std::time_t t = static_cast<std::time_t>(unix_seconds);
    std::tm local{};
    localtime_r(&t, &local);
    if (local.tm_year < 80) {  // DOS dates start in 1980
        local = std::tm{};
        local.tm_year = 80;
        local.tm_mday = 1;
    }
    if (local.tm_year > 207) local.tm_year = 207;
    time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    date = static_cast<std::uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
}

std::vector<std::uint8_t> zip_writer::local_header(const entry& e) const {
    byte_buffer extra;
    if (e.zip64_sizes) {
        extra.put16(records::zip64_extra);
        extra.put16(16);
        extra.put64(e.data.uncompressed);
        extra.put64(e.data.compressed);
    }
    put_unix_time(extra, e.info.modified);
    put_aes_field(extra, e.data);

    byte_buffer b;
    b.put32(records::local_signature);
    const std::uint32_t compressed = e.zip64_sizes ? records::zip64_u32 : static_cast<std::uint32_t>(e.data.compressed);
    const std::uint32_t uncompressed =
        e.zip64_sizes ? records::zip64_u32 : static_cast<std::uint32_t>(e.data.uncompressed);
    put_shared_fields(b, e.info, e.data, e.zip64_sizes, compressed, uncompressed, extra.bytes.size());
    b.put(e.info.name);
    b.put(extra.bytes);
    return std::move(b.bytes);
}

std::vector<std::uint8_t> zip_writer::central_record(const entry& e) const {
    byte_buffer zip64;
    for (std::uint64_t value : {e.data.uncompressed, e.data.compressed, e.offset})
        if (needs_zip64(value)) zip64.put64(value);
    byte_buffer extra;
    if (!zip64.bytes.empty()) {
        extra.put16(records::zip64_extra);
        extra.put16(static_cast<std::uint32_t>(zip64.bytes.size()));
        extra.put(zip64.bytes);
    }
    put_unix_time(extra, e.info.modified);
    put_aes_field(extra, e.data);

    byte_buffer b;
    b.put32(records::central_signature);
    b.put16(std::max(version_made_by, static_cast<std::uint16_t>(records::unix_host << 8 |
                                                                 version_needed(e.data, !zip64.bytes.empty()))));
    put_shared_fields(b, e.info, e.data, !zip64.bytes.empty(), classic(e.data.compressed), classic(e.data.uncompressed),
                      extra.bytes.size());
    b.put16(0);  // comment
    b.put16(0);  // disk number start
    b.put16(0);  // internal attributes
    b.put32(external_attributes(e.info.unix_mode));
    b.put32(classic(e.offset));
    b.put(e.info.name);
    b.put(extra.bytes);
    return std::move(b.bytes);
}

void zip_writer::begin_entry(const entry_info& info, const entry_data& data, bool zip64_sizes) {
    current_ = entry{info, data, out_.position(),
                     zip64_sizes || needs_zip64(data.compressed) || needs_zip64(data.uncompressed)};
    const std::vector<std::uint8_t> header = local_header(current_);
    out_.write(header.data(), header.size());
}

void zip_writer::end_entry(const entry_data& data) {
    if (data.method != current_.data.method || data.crc != current_.data.crc ||
        data.compressed != current_.data.compressed) {
        current_.data = data;
        const std::vector<std::uint8_t> header = local_header(current_);
        out_.patch(current_.offset, header.data(), header.size());
    }
    entries_.push_back(current_);
}

void zip_writer::finish(const std::string& comment) {
    if (comment.size() > records::max_comment) throw failure{"the archive comment is longer than 65535 bytes"};
    const std::uint64_t start = out_.position();
    for (const entry& e : entries_) {
        const std::vector<std::uint8_t> record = central_record(e);
        out_.write(record.data(), record.size());
    }
    write_end_records(start, out_.position() - start, comment);
}

void zip_writer::write_end_records(std::uint64_t start, std::uint64_t size, const std::string& comment) {
    const format::zip::directory_place place{entries_.size(), size, start};
    const byte_buffer records = format::zip::end_records_writer::records(place, out_.position(), comment);
    out_.write(records.bytes.data(), records.bytes.size());
}

}  // namespace quillon::pack
