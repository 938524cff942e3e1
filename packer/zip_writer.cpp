#include "packer/zip_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "packer/traditional_encryptor.h"
#include "zip/checksum/crc32.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

namespace records = format::zip::records;

constexpr std::uint16_t version_needed = 20;  // Deflate and traditional encryption
// Unix, so the mode in the attributes counts.
constexpr std::uint16_t version_made_by = records::unix_host << 8 | 30;
constexpr std::uint16_t flag_encrypted = records::encrypted_flag;
constexpr std::uint16_t flag_utf8 = records::utf8_flag;
constexpr std::uint16_t method_stored = records::stored;
constexpr std::uint16_t method_deflated = records::deflated;
constexpr std::uint32_t dos_directory = 0x10;
constexpr std::size_t encryption_header_size = records::encryption_header_len;

bool is_ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct compressor_deleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Deflates `data` at `level`; empty when that does not make it smaller.
std::vector<std::uint8_t> deflate(const std::uint8_t* data, std::size_t size, int level) {
    static std::unique_ptr<libdeflate_compressor, compressor_deleter> compressor;
    static int compressor_level = 0;
    if (!compressor || compressor_level != level) {
        compressor.reset(libdeflate_alloc_compressor(level));
        compressor_level = level;
        if (!compressor) throw failure{"cannot make a compressor for level " + std::to_string(level)};
    }
    std::vector<std::uint8_t> out(libdeflate_deflate_compress_bound(compressor.get(), size));
    std::size_t n = libdeflate_deflate_compress(compressor.get(), data, size, out.data(), out.size());
    if (n == 0 || n >= size) return {};
    out.resize(n);
    return out;
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

void zip_writer::check_room(std::uint64_t more) const {
    if (central_.size() >= max_entries) throw failure{"more than 65535 entries: the stub reads no Zip64 archives"};
    if (out_.position() + more > max_offset)
        throw failure{"the archive would reach 4 GiB: the stub reads no Zip64 archives"};
}

// The fields the local and central records share, from the version needed
// to the extra field's length (always 0 here).
void zip_writer::write_shared_fields(const central_record& r) {
    out_.write_u16(version_needed);
    out_.write_u16(r.flags);
    out_.write_u16(r.method);
    out_.write_u16(r.info.dos_time);
    out_.write_u16(r.info.dos_date);
    out_.write_u32(r.crc);
    out_.write_u32(r.compressed);
    out_.write_u32(r.uncompressed);
    out_.write_u16(static_cast<std::uint32_t>(r.info.name.size()));
    out_.write_u16(0);  // extra field
}

void zip_writer::write_local(const central_record& r) {
    out_.write_u32(records::local_signature);
    write_shared_fields(r);
    out_.write(r.info.name.data(), r.info.name.size());
}

void zip_writer::add_directory(const entry_info& info) {
    check_room(records::local_header_len + info.name.size());
    central_record r{info, is_ascii(info.name) ? std::uint16_t{0} : flag_utf8, method_stored, 0, 0,
                     0,    static_cast<std::uint32_t>(out_.position())};
    write_local(r);
    central_.push_back(r);
}

void zip_writer::add_file(const entry_info& info, const std::uint8_t* data, std::uint64_t size, int level,
                          const std::string& passphrase) {
    if (size >= max_offset) throw failure{"\"" + info.name + "\" is 4 GiB or larger: the stub reads no Zip64 archives"};
    check_room(records::local_header_len + info.name.size() + size);

    algorithm::crc32 crc;
    crc.update(data, size);
    crc.finish();

    std::vector<std::uint8_t> packed = level > 0 && size > 0 ? deflate(data, size, level) : std::vector<std::uint8_t>{};
    const bool deflated = !packed.empty();
    const bool encrypted = !passphrase.empty();
    const std::uint64_t body = (deflated ? packed.size() : size) + (encrypted ? encryption_header_size : 0);
    check_room(records::local_header_len + info.name.size() + body);

    central_record r{
        info,
        static_cast<std::uint16_t>((encrypted ? flag_encrypted : 0) | (is_ascii(info.name) ? 0 : flag_utf8)),
        deflated ? method_deflated : method_stored,
        crc.value(),
        static_cast<std::uint32_t>(body),
        static_cast<std::uint32_t>(size),
        static_cast<std::uint32_t>(out_.position())};
    write_local(r);

    const std::uint8_t* payload = deflated ? packed.data() : data;
    const std::size_t payload_size = deflated ? packed.size() : static_cast<std::size_t>(size);
    if (!encrypted) {
        out_.write(payload, payload_size);
    } else {
        traditional_encryptor cipher(passphrase);
        std::uint8_t header[encryption_header_size];
        cipher.make_header(crc.value(), header);
        out_.write(header, sizeof header);
        std::vector<std::uint8_t> chunk(1 << 16);
        for (std::size_t at = 0; at < payload_size; at += chunk.size()) {
            std::size_t n = std::min(chunk.size(), payload_size - at);
            std::copy(payload + at, payload + at + n, chunk.begin());
            cipher.encrypt(chunk.data(), n);
            out_.write(chunk.data(), n);
        }
    }
    central_.push_back(r);
}

void zip_writer::finish() {
    const std::uint64_t start = out_.position();
    for (const central_record& r : central_) {
        out_.write_u32(records::central_signature);
        out_.write_u16(version_made_by);
        write_shared_fields(r);
        out_.write_u16(0);  // comment
        out_.write_u16(0);  // disk number start
        out_.write_u16(0);  // internal attributes
        out_.write_u32(r.info.unix_mode << 16 | (r.info.directory ? dos_directory : 0));
        out_.write_u32(r.offset);
        out_.write(r.info.name.data(), r.info.name.size());
    }
    const std::uint64_t size = out_.position() - start;
    if (out_.position() + records::end_len > max_offset)
        throw failure{"the archive would reach 4 GiB: the stub reads no Zip64 archives"};
    out_.write_u32(records::end_signature);
    out_.write_u16(0);  // this disk
    out_.write_u16(0);  // disk of the central directory
    out_.write_u16(static_cast<std::uint32_t>(central_.size()));
    out_.write_u16(static_cast<std::uint32_t>(central_.size()));
    out_.write_u32(static_cast<std::uint32_t>(size));
    out_.write_u32(static_cast<std::uint32_t>(start));
    out_.write_u16(0);  // comment length
}

}  // namespace quillon::pack
