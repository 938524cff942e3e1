#include "image/image.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "io/file.h"

namespace quillon::self {

namespace {

// Fixed-order field reads over a source; any read outside the file marks
// the whole parse as failed, and later reads then answer 0.
class field_reader {
public:
    explicit field_reader(image::source& bytes) : bytes_(bytes) {}

    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    std::uint64_t unsigned_at(std::uint64_t offset, std::size_t width) {
        std::uint8_t field[8] = {};
        if (failed_ || !bytes_.read_at(offset, field, width)) {
            failed_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            std::size_t shift = big_endian_ ? (width - 1 - i) * 8 : i * 8;
            value |= std::uint64_t{field[i]} << shift;
        }
        return value;
    }

    std::uint32_t u16(std::uint64_t offset) { return static_cast<std::uint32_t>(unsigned_at(offset, 2)); }
    std::uint32_t u32(std::uint64_t offset) { return static_cast<std::uint32_t>(unsigned_at(offset, 4)); }
    // A 32-bit field in a 32-bit ELF file, a 64-bit one in a 64-bit file.
    std::uint64_t word(std::uint64_t offset, bool wide) { return unsigned_at(offset, wide ? 8 : 4); }

    void set_big_endian(bool big) { big_endian_ = big; }

private:
    image::source& bytes_;
    bool failed_ = false;
    bool big_endian_ = false;
};

// Offsets of the PE fields that self-location reads.
constexpr std::uint64_t pe_header_pointer = 0x3C;  // in the MS-DOS header
constexpr std::uint64_t pe_section_count = 6;      // after "PE\0\0"
constexpr std::uint64_t pe_optional_size = 20;     // SizeOfOptionalHeader
constexpr std::uint64_t pe_optional_header = 24;   // signature + file header
constexpr std::uint64_t pe_section_header_size = 40;
constexpr std::uint64_t pe_raw_size = 16;           // SizeOfRawData
constexpr std::uint64_t pe_raw_pointer = 20;        // PointerToRawData
constexpr std::uint32_t pe_signature = 0x00004550;  // "PE\0\0"
// The optional header's magic, and where its data directory count and the
// directory itself stand in the two forms.
constexpr std::uint32_t pe32_magic = 0x10B, pe32_plus_magic = 0x20B;
constexpr std::uint64_t pe32_directory_count = 92, pe32_directories = 96;
constexpr std::uint64_t pe32_plus_directory_count = 108, pe32_plus_directories = 112;
constexpr std::uint64_t pe_directory_entry_size = 8;  // VirtualAddress, Size
constexpr std::uint32_t pe_certificate_entry = 4;     // IMAGE_DIRECTORY_ENTRY_SECURITY
// One WIN_CERTIFICATE record of the table: dwLength (header included),
// wRevision, wCertificateType, then the certificate; the next record
// starts at the length rounded up to 8 bytes, the padding being zeros.
constexpr std::uint64_t certificate_header_size = 8;
constexpr std::uint64_t certificate_revision = 4, certificate_type = 6;
constexpr std::uint64_t certificate_alignment = 8;
constexpr std::uint32_t certificate_revision_1 = 0x0100, certificate_revision_2 = 0x0200;
// X509, PKCS_SIGNED_DATA, RESERVED_1, TS_STACK_SIGNED.
constexpr std::uint32_t first_certificate_type = 1, last_certificate_type = 4;

// ELF identification and the header fields, for the 32- and 64-bit classes.
constexpr std::uint8_t elf_magic[4] = {0x7F, 'E', 'L', 'F'};
constexpr unsigned elf_class_32 = 1, elf_class_64 = 2;
constexpr unsigned elf_little_endian = 1, elf_big_endian = 2;
constexpr std::uint32_t section_without_file_space = 8;   // SHT_NOBITS
constexpr std::uint32_t extended_program_count = 0xFFFF;  // PN_XNUM

struct elf_layout {
    std::uint64_t header_size, program_offset, section_offset;
    std::uint64_t program_entry_size_field, program_count_field;
    std::uint64_t section_entry_size_field, section_count_field;
    std::uint64_t program_entry_minimum, section_entry_minimum;
    // Fields inside one program header and one section header.
    std::uint64_t segment_offset, segment_file_size;
    std::uint64_t section_type, section_offset_field, section_size_field, section_info;
};

constexpr elf_layout elf_32 = {52, 0x1C, 0x20, 0x2A, 0x2C, 0x2E, 0x30, 32, 40, 4, 16, 4, 16, 20, 28};
constexpr elf_layout elf_64 = {64, 0x20, 0x28, 0x36, 0x38, 0x3A, 0x3C, 56, 64, 8, 32, 4, 24, 32, 44};

// end = offset + length, or nothing when that overflows or passes the file.
bool extend(std::uint64_t& end, std::uint64_t offset, std::uint64_t length, std::uint64_t file_size) {
    if (offset > file_size || length > file_size - offset) return false;
    end = std::max(end, offset + length);
    return true;
}

// The executable file through its data fork, read in blocks: the parsers
// ask for many small fields close to each other.
class file_source : public image::source {
public:
    explicit file_source(io::fork& fork) : fork_(fork), size_(fork.size()) {}

    std::uint64_t size() override { return size_; }

    bool read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset > size_ || length > size_ - offset) return false;
        auto* target = static_cast<std::uint8_t*>(buffer);
        while (length != 0) {
            if (offset < block_start_ || offset >= block_start_ + block_length_) load(offset);
            if (block_length_ == 0 || offset < block_start_) return false;
            const std::size_t inside = static_cast<std::size_t>(offset - block_start_);
            const std::size_t part = std::min(length, block_length_ - inside);
            if (part == 0) return false;
            std::memcpy(target, block_ + inside, part);
            target += part, offset += part, length -= part;
        }
        return true;
    }

private:
    void load(std::uint64_t offset) {
        block_start_ = offset - offset % sizeof block_;
        block_length_ = 0;
        fork_.seek(block_start_);
        while (block_length_ < sizeof block_) {
            std::uint32_t got =
                fork_.read(block_ + block_length_, static_cast<std::uint32_t>(sizeof block_ - block_length_));
            if (got == 0) break;
            block_length_ += got;
        }
    }

    io::fork& fork_;
    std::uint64_t size_;
    std::uint8_t block_[4096];
    std::uint64_t block_start_ = 0;
    std::size_t block_length_ = 0;
};

// Whether [start, end) holds WIN_CERTIFICATE records and nothing else,
// each with a known revision and type, each after the last one's length
// rounded up to 8, the bytes in between zero. The last one may end the
// table without its padding.
bool well_formed_certificates(field_reader& fields, std::uint64_t start, std::uint64_t end) {
    for (std::uint64_t at = start; at != end;) {
        if (end - at < certificate_header_size) return false;
        const std::uint64_t length = fields.u32(at);
        const std::uint32_t revision = fields.u16(at + certificate_revision);
        const std::uint32_t type = fields.u16(at + certificate_type);
        if (fields.failed() || length < certificate_header_size || length > end - at) return false;
        if (revision != certificate_revision_1 && revision != certificate_revision_2) return false;
        if (type < first_certificate_type || type > last_certificate_type) return false;
        const std::uint64_t padded =
            (length + certificate_alignment - 1) / certificate_alignment * certificate_alignment;
        const std::uint64_t next = std::min(at + padded, end);
        for (std::uint64_t pad = at + length; pad < next; ++pad)
            if (fields.unsigned_at(pad, 1) != 0 || fields.failed()) return false;
        at = next;
    }
    return true;
}

}  // namespace

std::uint64_t image::archive_offset() const {
    io::file own(module_path_);
    try {
        own.data_fork().open();
        file_source bytes(own.data_fork());
        const std::uint64_t end = end_of(bytes);
        own.data_fork().close(false);
        return end;
    } catch (const un::exception&) {
        // Unreadable: the archive is looked for from the start of the file.
        own.data_fork().close(false);
        return 0;
    }
}

std::uint64_t image::archive_end() const {
    io::file own(module_path_);
    try {
        own.data_fork().open();
        file_source bytes(own.data_fork());
        const std::uint64_t end = pe_certificate_start(bytes);
        own.data_fork().close(false);
        return end;
    } catch (const un::exception&) {
        own.data_fork().close(false);
        return no_end;
    }
}

std::uint64_t image::end_of(source& bytes) {
    std::uint8_t magic[4];
    if (bytes.read_at(0, magic, sizeof magic) && std::memcmp(magic, elf_magic, sizeof magic) == 0)
        return elf_end(bytes);
    return pe_end(bytes);
}

std::uint64_t image::pe_end(source& bytes) {
    field_reader fields(bytes);
    const std::uint64_t pe_header = fields.u32(pe_header_pointer);
    const std::uint32_t sections = fields.u16(pe_header + pe_section_count);
    const std::uint64_t table = pe_header + pe_optional_header + fields.u16(pe_header + pe_optional_size);
    if (fields.failed() || sections == 0) return 0;

    std::uint64_t end = fields.u32(table + pe_raw_pointer);
    for (std::uint32_t i = 0; i < sections; ++i) end += fields.u32(table + i * pe_section_header_size + pe_raw_size);
    // The archive offset is a 32-bit quantity, and an image that claims more
    // than the file holds is damaged.
    if (fields.failed() || end > 0xFFFFFFFFu || end > bytes.size()) return 0;
    return end;
}

std::uint64_t image::pe_certificate_start(source& bytes) {
    std::uint8_t magic[4];
    if (bytes.read_at(0, magic, sizeof magic) && std::memcmp(magic, elf_magic, sizeof magic) == 0) return no_end;
    field_reader fields(bytes);
    const std::uint64_t pe_header = fields.u32(pe_header_pointer);
    const std::uint32_t signature = fields.u32(pe_header);
    const std::uint64_t optional_size = fields.u16(pe_header + pe_optional_size);
    const std::uint64_t optional = pe_header + pe_optional_header;
    const std::uint32_t kind = fields.u16(optional);
    if (fields.failed() || signature != pe_signature || (kind != pe32_magic && kind != pe32_plus_magic)) return no_end;
    const bool plus = kind == pe32_plus_magic;
    const std::uint64_t count = fields.u32(optional + (plus ? pe32_plus_directory_count : pe32_directory_count));
    const std::uint64_t entry =
        (plus ? pe32_plus_directories : pe32_directories) + pe_certificate_entry * pe_directory_entry_size;
    // The entry must exist and lie inside the optional header.
    if (fields.failed() || count <= pe_certificate_entry || entry + pe_directory_entry_size > optional_size)
        return no_end;
    const std::uint64_t start = fields.u32(optional + entry);
    const std::uint64_t length = fields.u32(optional + entry + 4);
    if (fields.failed() || length == 0 || start + length != bytes.size()) return no_end;
    // A table inside the image is not one that signing appended.
    const std::uint64_t image_end = pe_end(bytes);
    if (image_end == 0 || start < image_end) return no_end;
    // Nor is one whose records do not hold together: the entry can name any
    // part of the archive, an inner zip that one of its entries stores
    // among them, which would then be read instead of the whole.
    if (!well_formed_certificates(fields, start, start + length)) return no_end;
    return start;
}

std::uint64_t image::elf_end(source& bytes) {
    field_reader fields(bytes);
    const unsigned elf_class = static_cast<unsigned>(fields.unsigned_at(4, 1));
    const unsigned encoding = static_cast<unsigned>(fields.unsigned_at(5, 1));
    if (fields.failed() || (elf_class != elf_class_32 && elf_class != elf_class_64) ||
        (encoding != elf_little_endian && encoding != elf_big_endian))
        return 0;
    fields.set_big_endian(encoding == elf_big_endian);
    const bool wide = elf_class == elf_class_64;
    const elf_layout& at = wide ? elf_64 : elf_32;
    const std::uint64_t file_size = bytes.size();

    std::uint64_t end = 0;
    if (!extend(end, 0, at.header_size, file_size)) return 0;
    const std::uint64_t program_table = fields.word(at.program_offset, wide);
    const std::uint64_t section_table = fields.word(at.section_offset, wide);
    const std::uint64_t program_entry = fields.u16(at.program_entry_size_field);
    const std::uint64_t section_entry = fields.u16(at.section_entry_size_field);
    std::uint64_t program_count = fields.u16(at.program_count_field);
    std::uint64_t section_count = fields.u16(at.section_count_field);
    if (fields.failed()) return 0;

    // With very many entries the true counts live in the first section header.
    if (section_table != 0 && (section_count == 0 || program_count == extended_program_count)) {
        if (section_entry < at.section_entry_minimum) return 0;
        if (section_count == 0) section_count = fields.word(section_table + at.section_size_field, wide);
        if (program_count == extended_program_count) program_count = fields.u32(section_table + at.section_info);
        if (fields.failed()) return 0;
    }

    if (program_count != 0) {
        if (program_entry < at.program_entry_minimum || program_count > file_size / program_entry ||
            !extend(end, program_table, program_count * program_entry, file_size))
            return 0;
        for (std::uint64_t i = 0; i < program_count; ++i) {
            const std::uint64_t entry = program_table + i * program_entry;
            const std::uint64_t offset = fields.word(entry + at.segment_offset, wide);
            const std::uint64_t length = fields.word(entry + at.segment_file_size, wide);
            if (fields.failed() || !extend(end, offset, length, file_size)) return 0;
        }
    }
    if (section_count != 0) {
        if (section_entry < at.section_entry_minimum || section_count > file_size / section_entry ||
            !extend(end, section_table, section_count * section_entry, file_size))
            return 0;
        for (std::uint64_t i = 0; i < section_count; ++i) {
            const std::uint64_t entry = section_table + i * section_entry;
            if (fields.u32(entry + at.section_type) == section_without_file_space) continue;
            const std::uint64_t offset = fields.word(entry + at.section_offset_field, wide);
            const std::uint64_t length = fields.word(entry + at.section_size_field, wide);
            if (fields.failed() || !extend(end, offset, length, file_size)) return 0;
        }
    }
    return end;
}

}  // namespace quillon::self
