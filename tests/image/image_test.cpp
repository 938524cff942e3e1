// Self-location: the end of the executable image from the program's own
// headers, on hand-built PE and ELF images (well-formed, damaged, short) and
// on real executables.
#include "image/image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using quillon::self::image;

class memory_source : public image::source {
public:
    explicit memory_source(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() override { return bytes_.size(); }
    bool read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
        std::memcpy(buffer, bytes_.data() + offset, length);
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// Little- or big-endian field writer over a growing byte vector.
struct builder {
    std::vector<std::uint8_t> bytes;
    bool big_endian = false;

    void put(std::size_t offset, std::uint64_t value, std::size_t width) {
        if (bytes.size() < offset + width) bytes.resize(offset + width);
        for (std::size_t i = 0; i < width; ++i) {
            std::size_t shift = big_endian ? (width - 1 - i) * 8 : i * 8;
            bytes[offset + i] = static_cast<std::uint8_t>(value >> shift);
        }
    }
    void grow(std::size_t size) {
        if (bytes.size() < size) bytes.resize(size);
    }
};

std::uint64_t pe_end(const builder& made) {
    memory_source bytes(made.bytes);
    return image::pe_end(bytes);
}

std::uint64_t end_of(const builder& made) {
    memory_source bytes(made.bytes);
    return image::end_of(bytes);
}

// A PE image: MS-DOS header pointing at 0x80, the "PE\0\0" header with the
// given optional header size, and sections of the given raw sizes laid out
// one after the other from 0x400.
builder pe_image(std::uint16_t optional_size, const std::vector<std::uint32_t>& raw_sizes) {
    builder made;
    made.put(0, 'M' | ('Z' << 8), 2);
    made.put(0x3C, 0x80, 4);                      // e_lfanew
    made.put(0x80, 0x00004550, 4);                // "PE\0\0"
    made.put(0x80 + 4 + 2, raw_sizes.size(), 2);  // NumberOfSections
    made.put(0x80 + 4 + 16, optional_size, 2);    // SizeOfOptionalHeader
    std::size_t table = 0x80 + 24 + optional_size;
    std::uint32_t pointer = 0x400;
    for (std::size_t i = 0; i < raw_sizes.size(); ++i) {
        std::size_t header = table + 40 * i;
        made.put(header, 0x7865742E, 4);                       // ".tex" of the name
        made.put(header + 16, raw_sizes[i], 4);                // SizeOfRawData
        made.put(header + 20, raw_sizes[i] ? pointer : 0, 4);  // PointerToRawData
        pointer += raw_sizes[i];
    }
    made.grow(pointer);
    return made;
}

TEST(image_pe, the_product_layout_ends_after_its_last_section) {
    // The 32-bit layout: optional header of 224 bytes, so the table is at
    // PE header + 0xF8; sections from 0x400.
    builder made = pe_image(224, {0x14E00, 0x5200, 0x800, 0x1000});
    EXPECT_EQ(pe_end(made), 0x1BC00u);
}

TEST(image_pe, the_section_table_follows_the_optional_header_of_the_given_size) {
    // PE32+ has a 240-byte optional header; a fixed 0xF8 would read the
    // table 16 bytes too early and take garbage for the sizes.
    builder made = pe_image(240, {0x600, 0x200, 0x200});
    EXPECT_EQ(pe_end(made), 0x400u + 0xA00u);
    builder odd = pe_image(0x1000 - 0x98, {0x200});  // table after a large optional header
    odd.grow(0x2000);
    EXPECT_EQ(pe_end(odd), 0x600u);
}

TEST(image_pe, sections_without_raw_data_add_nothing) {
    builder made = pe_image(224, {0x200, 0, 0x200});  // a .bss-like section in the middle
    EXPECT_EQ(pe_end(made), 0x800u);
}

TEST(image_pe, appended_bytes_are_not_part_of_the_image) {
    builder made = pe_image(224, {0x200, 0x200});
    made.grow(made.bytes.size() + 5000);
    EXPECT_EQ(pe_end(made), 0x800u);
}

TEST(image_pe, short_or_damaged_headers_give_zero) {
    EXPECT_EQ(pe_end(builder{}), 0u);  // empty file
    builder tiny;
    tiny.grow(0x3E);  // ends inside e_lfanew
    EXPECT_EQ(pe_end(tiny), 0u);

    builder far = pe_image(224, {0x200});
    far.put(0x3C, 0xFFFFFFF0u, 4);  // e_lfanew far beyond the file
    EXPECT_EQ(pe_end(far), 0u);

    builder no_sections = pe_image(224, {});
    no_sections.grow(0x400);
    EXPECT_EQ(pe_end(no_sections), 0u);

    builder cut = pe_image(224, {0x200, 0x200});
    cut.bytes.resize(0x80 + 24 + 224 + 40 + 20);  // ends inside the second section header
    EXPECT_EQ(pe_end(cut), 0u);

    builder many = pe_image(224, {0x200});
    many.put(0x80 + 6, 0xFFFF, 2);  // 65535 sections claimed, one present
    EXPECT_EQ(pe_end(many), 0u);
}

TEST(image_pe, an_image_larger_than_the_file_is_damaged) {
    builder made = pe_image(224, {0x200, 0x200});
    made.bytes.resize(0x600);  // the second section's data is missing
    EXPECT_EQ(pe_end(made), 0u);

    builder wraps = pe_image(224, {0x200, 0x200});
    wraps.put(0x80 + 24 + 224 + 40 + 16, 0xFFFFFF00u, 4);  // sum wraps in 32 bits
    EXPECT_EQ(pe_end(wraps), 0u);
}

// A signed PE image: the image, the appended archive, and the certificate
// table that signing adds at the very end, named by data directory entry 4
// (the security directory, whose address is a file offset). The table holds
// one WIN_CERTIFICATE record filling it: dwLength, wRevision 2.0,
// wCertificateType PKCS_SIGNED_DATA, then the signature's bytes.
builder signed_image(bool plus, std::uint32_t archive_size, std::uint32_t table_size) {
    const std::uint16_t optional_size = plus ? 240 : 224;
    builder made = pe_image(optional_size, {0x200, 0x200});
    const std::size_t optional = 0x80 + 24;
    made.put(optional, plus ? 0x20B : 0x10B, 2);    // Magic: PE32+ or PE32
    made.put(optional + (plus ? 108 : 92), 16, 4);  // NumberOfRvaAndSizes
    const std::size_t table = 0x800 + archive_size;
    made.put(optional + (plus ? 112 : 96) + 4 * 8, table, 4);           // certificate table: file offset
    made.put(optional + (plus ? 112 : 96) + 4 * 8 + 4, table_size, 4);  // and size
    made.put(table, table_size, 4);                                     // dwLength
    made.put(table + 4, 0x0200, 2);                                     // wRevision
    made.put(table + 6, 2, 2);                                          // wCertificateType
    for (std::size_t at = table + 8; at < table + table_size; ++at) made.put(at, 0x30 + at % 7, 1);
    return made;
}

std::uint64_t certificate_start(const builder& made) {
    memory_source bytes(made.bytes);
    return image::pe_certificate_start(bytes);
}

TEST(image_certificates, the_table_of_a_signed_program_ends_its_archive) {
    for (bool plus : {false, true}) {
        builder made = signed_image(plus, 5000, 0x5A8);
        EXPECT_EQ(certificate_start(made), 0x800u + 5000u) << "PE32+ " << plus;
        EXPECT_EQ(pe_end(made), 0x800u) << "signing leaves the image's end where it was";
    }
}

TEST(image_certificates, an_unsigned_program_has_no_end_before_the_file_end) {
    builder made = signed_image(false, 5000, 0x5A8);
    made.put(0x80 + 24 + 96 + 32, 0, 4);
    made.put(0x80 + 24 + 96 + 36, 0, 4);  // no table
    EXPECT_EQ(certificate_start(made), image::no_end);
    EXPECT_EQ(certificate_start(pe_image(224, {0x200})), image::no_end);  // no magic at all
}

// Hazard: a table that does not reach the end of the file is not what
// signing appended; cutting the archive there would lose its end record.
TEST(image_certificates, a_table_that_does_not_end_the_file_is_ignored) {
    builder more = signed_image(true, 5000, 0x5A8);
    more.grow(more.bytes.size() + 1);  // something after the table
    EXPECT_EQ(certificate_start(more), image::no_end);

    builder inside = signed_image(false, 5000, 0x5A8);
    inside.put(0x80 + 24 + 96 + 32, 0x400, 4);                        // inside the image
    inside.put(0x80 + 24 + 96 + 36, inside.bytes.size() - 0x400, 4);  // yet ending at the end
    EXPECT_EQ(certificate_start(inside), image::no_end);

    builder wraps = signed_image(false, 5000, 0x5A8);
    wraps.put(0x80 + 24 + 96 + 36, 0xFFFFFFFFu, 4);  // offset + size past 32 bits
    EXPECT_EQ(certificate_start(wraps), image::no_end);
}

// The records of a table at 0x800 + 5000 of `size` bytes, written over a
// signed image: each record {dwLength, wRevision, wCertificateType} at the
// given offset inside the table.
struct record {
    std::uint32_t offset, length, revision, type;
};

builder with_records(std::uint32_t size, const std::vector<record>& records) {
    builder made = signed_image(false, 5000, size);
    const std::size_t table = 0x800 + 5000;
    for (std::size_t at = table; at < table + size; ++at) made.put(at, 0, 1);
    for (const record& each : records) {
        made.put(table + each.offset, each.length, 4);
        made.put(table + each.offset + 4, each.revision, 2);
        made.put(table + each.offset + 6, each.type, 2);
        for (std::size_t at = 8; at < each.length; ++at) made.put(table + each.offset + at, 0xA5, 1);
    }
    made.bytes.resize(table + size);
    return made;
}

TEST(image_certificates, well_formed_records_end_the_archive) {
    const struct {
        const char* what;
        std::uint32_t size;
        std::vector<record> records;
    } cases[] = {
        {"one record, padded to 8", 0x5B0, {{0, 0x5AB, 0x200, 2}}},
        {"one record, the padding left out", 0x5AB, {{0, 0x5AB, 0x200, 2}}},
        {"two records", 0x30, {{0, 0x14, 0x200, 2}, {0x18, 0x18, 0x100, 1}}},
        {"a header alone", 8, {{0, 8, 0x200, 4}}},
        {"every type", 0x20, {{0, 8, 0x200, 1}, {8, 8, 0x200, 2}, {16, 8, 0x200, 3}, {24, 8, 0x200, 4}}},
    };
    for (const auto& given : cases)
        EXPECT_EQ(certificate_start(with_records(given.size, given.records)), 0x800u + 5000u) << given.what;
}

// Hazard: data directory entry 4 may name any bytes that run to the end of
// the file: aimed at the end of an inner zip that the archive stores, it
// made the stub read that zip while every other tool read the outer one.
TEST(image_certificates, a_table_whose_records_do_not_hold_together_is_ignored) {
    const struct {
        const char* what;
        std::uint32_t size;
        std::vector<record> records;
    } cases[] = {
        {"shorter than a header", 4, {}},
        {"a length below the header's", 0x10, {{0, 4, 0x200, 2}}},
        {"a length of zero", 0x10, {{0, 0, 0x200, 2}}},
        {"a length past the table", 0x10, {{0, 0x11, 0x200, 2}}},
        {"an unknown revision", 0x10, {{0, 0x10, 0x300, 2}}},
        {"revision 0", 0x10, {{0, 0x10, 0, 2}}},
        {"type 0", 0x10, {{0, 0x10, 0x200, 0}}},
        {"type 5", 0x10, {{0, 0x10, 0x200, 5}}},
        {"bytes after the last record", 0x18, {{0, 0x10, 0x200, 2}}},
        {"a second record off the 8-byte grid", 0x28, {{0, 0x14, 0x200, 2}, {0x14, 0x14, 0x200, 2}}},
        {"a damaged second record", 0x30, {{0, 0x14, 0x200, 2}, {0x18, 0x18, 0x200, 9}}},
    };
    for (const auto& given : cases)
        EXPECT_EQ(certificate_start(with_records(given.size, given.records)), image::no_end) << given.what;

    builder padding = with_records(0x30, {{0, 0x14, 0x200, 2}, {0x18, 0x18, 0x200, 2}});
    padding.put(0x800 + 5000 + 0x15, 1, 1);  // padding that is not zero
    EXPECT_EQ(certificate_start(padding), image::no_end);

    // The table named at a zip's local header, as an inner zip begins.
    builder inner = signed_image(false, 5000, 0x100);
    inner.put(0x800 + 5000, 0x04034B50, 4);  // "PK\3\4"
    inner.put(0x800 + 5000 + 4, 20, 2);      // version needed to extract
    EXPECT_EQ(certificate_start(inner), image::no_end);
}

TEST(image_certificates, short_or_damaged_headers_have_no_table) {
    builder few = signed_image(false, 100, 0x100);
    few.put(0x80 + 24 + 92, 4, 4);  // four directory entries: the security one is missing
    EXPECT_EQ(certificate_start(few), image::no_end);

    builder small = signed_image(false, 100, 0x100);
    small.put(0x80 + 20, 96 + 4 * 8, 2);  // an optional header that ends before entry 4
    EXPECT_EQ(certificate_start(small), image::no_end);

    builder foreign = signed_image(false, 100, 0x100);
    foreign.put(0x80, 0x00004551, 4);  // not "PE\0\0"
    EXPECT_EQ(certificate_start(foreign), image::no_end);

    EXPECT_EQ(certificate_start(builder{}), image::no_end);
    builder elf = signed_image(false, 100, 0x100);
    elf.put(0, 0x464C457F, 4);  // the ELF magic in front of the same bytes
    EXPECT_EQ(certificate_start(elf), image::no_end);
}

TEST(image_certificates, archive_end_reads_the_program_file) {
    const builder made = signed_image(false, 3000, 0x200);
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "quillon-signed-test.exe";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(made.bytes.data()), made.bytes.size());
    EXPECT_EQ(image(io::path(any::string(file.u16string()))).archive_end(), 0x800u + 3000u);
    std::filesystem::remove(file);
    EXPECT_EQ(image(io::path(any::string(file.u16string()))).archive_end(), image::no_end);  // gone: no end
}

// An ELF image with one loadable segment over [0, 0x300), a .bss section
// without file space, a .text section and the section header table at the
// end, after the given padding.
builder elf_image(bool wide, bool big_endian) {
    builder made;
    made.big_endian = big_endian;
    const std::size_t header = wide ? 64 : 52, program_entry = wide ? 56 : 32, section_entry = wide ? 64 : 40;
    const std::size_t word = wide ? 8 : 4;
    made.put(0, 0x7F, 1), made.put(1, 'E', 1), made.put(2, 'L', 1), made.put(3, 'F', 1);
    made.put(4, wide ? 2 : 1, 1);        // EI_CLASS
    made.put(5, big_endian ? 2 : 1, 1);  // EI_DATA
    made.put(6, 1, 1);                   // EI_VERSION
    const std::size_t phoff = header, shoff = 0x400;
    made.put(wide ? 0x20 : 0x1C, phoff, word);       // e_phoff
    made.put(wide ? 0x28 : 0x20, shoff, word);       // e_shoff
    made.put(wide ? 0x36 : 0x2A, program_entry, 2);  // e_phentsize
    made.put(wide ? 0x38 : 0x2C, 1, 2);              // e_phnum
    made.put(wide ? 0x3A : 0x2E, section_entry, 2);  // e_shentsize
    made.put(wide ? 0x3C : 0x30, 3, 2);              // e_shnum: null, .bss, .text
    // Program header: PT_LOAD, offset 0, file size 0x300.
    made.put(phoff, 1, 4);
    made.put(phoff + (wide ? 8 : 4), 0, word);
    made.put(phoff + (wide ? 32 : 16), 0x300, word);
    // Section 1: .bss (SHT_NOBITS) claiming far more than the file holds.
    std::size_t bss = shoff + section_entry;
    made.put(bss + 4, 8, 4);
    made.put(bss + (wide ? 24 : 16), 0x300, word);
    made.put(bss + (wide ? 32 : 20), 0x100000, word);
    // Section 2: .text (SHT_PROGBITS) over [0x300, 0x3F0).
    std::size_t text = shoff + 2 * section_entry;
    made.put(text + 4, 1, 4);
    made.put(text + (wide ? 24 : 16), 0x300, word);
    made.put(text + (wide ? 32 : 20), 0xF0, word);
    made.grow(shoff + 3 * section_entry);
    return made;
}

TEST(image_elf, the_end_is_the_section_header_table_in_every_class_and_byte_order) {
    for (bool wide : {false, true}) {
        for (bool big : {false, true}) {
            builder made = elf_image(wide, big);
            const std::uint64_t end = made.bytes.size();
            made.grow(end + 777);  // the appended archive
            EXPECT_EQ(end_of(made), end) << "wide " << wide << " big endian " << big;
        }
    }
}

TEST(image_elf, a_section_or_segment_past_the_table_sets_the_end) {
    builder made = elf_image(true, false);
    made.put(64 + 32, 0x1000, 8);  // the segment now ends at 0x1000, past the table
    made.grow(0x1800);
    EXPECT_EQ(end_of(made), 0x1000u);

    builder text = elf_image(false, false);
    text.put(0x400 + 2 * 40 + 16, 0x500, 4);  // .text moved behind the table
    text.grow(0x800);
    EXPECT_EQ(end_of(text), 0x5F0u);
}

TEST(image_elf, very_many_sections_are_counted_from_the_first_section_header) {
    builder made = elf_image(true, false);
    made.put(0x3C, 0, 2);  // e_shnum 0: the count is in section 0's sh_size
    made.put(0x400 + 32, 3, 8);
    made.grow(made.bytes.size() + 100);
    EXPECT_EQ(end_of(made), 0x400u + 3 * 64);
}

TEST(image_elf, short_or_damaged_headers_give_zero) {
    builder header_only = elf_image(true, false);
    header_only.bytes.resize(40);  // ends inside the ELF header
    EXPECT_EQ(end_of(header_only), 0u);

    builder cut = elf_image(true, false);
    cut.bytes.resize(0x400 + 64);  // the section header table is cut
    EXPECT_EQ(end_of(cut), 0u);

    builder segment = elf_image(false, false);
    segment.put(52 + 16, 0x7FFFFFFF, 4);  // a segment larger than the file
    EXPECT_EQ(end_of(segment), 0u);

    builder wraps = elf_image(true, false);
    wraps.put(0x400 + 2 * 64 + 24, 0xFFFFFFFFFFFFFF00u, 8);  // offset + size wraps
    EXPECT_EQ(end_of(wraps), 0u);

    builder entry = elf_image(true, false);
    entry.put(0x3A, 8, 2);  // section headers of 8 bytes
    EXPECT_EQ(end_of(entry), 0u);

    builder many = elf_image(true, false);
    many.put(0x3C, 0xFFFF, 2);  // 65535 sections claimed
    EXPECT_EQ(end_of(many), 0u);

    builder unknown = elf_image(true, false);
    unknown.put(4, 3, 1);  // no such ELF class
    EXPECT_EQ(end_of(unknown), 0u);
}

// Real executables: nothing appended, so the image ends at the file's end.
std::vector<std::uint8_t> file_bytes(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The same through the program's own file: archive_offset reads the file.
std::filesystem::path scratch_file(const char* name, const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return file;
}

io::path system_path(const std::filesystem::path& file) { return io::path(any::string(file.u16string())); }

TEST(image_file, archive_offset_is_the_end_of_the_image_in_the_file) {
    builder made = pe_image(224, {0x1000, 0x3000, 0x200});  // reads cross the 4 KiB blocks
    made.grow(made.bytes.size() + 12345);                   // the appended archive
    const std::filesystem::path file = scratch_file("quillon-image-test.exe", made.bytes);
    EXPECT_EQ(image(system_path(file)).archive_offset(), 0x400u + 0x4200u);
    std::filesystem::remove(file);
}

TEST(image_file, an_unreadable_file_gives_zero) {
    const std::filesystem::path missing = std::filesystem::temp_directory_path() / "quillon-no-such-file.exe";
    EXPECT_EQ(image(system_path(missing)).archive_offset(), 0u);
    builder cut = pe_image(224, {0x200});
    cut.bytes.resize(0x50);  // ends before the PE header
    const std::filesystem::path file = scratch_file("quillon-short-image.exe", cut.bytes);
    EXPECT_EQ(image(system_path(file)).archive_offset(), 0u);
    std::filesystem::remove(file);
}

// QUILLON_IMAGE_FILES names more files, separated by ':', that must exist
// and end where their image ends (the end-to-end scripts name the product).
TEST(image_real, the_named_files_end_at_their_file_size) {
    const char* names = std::getenv("QUILLON_IMAGE_FILES");
    if (names == nullptr || *names == 0) GTEST_SKIP() << "QUILLON_IMAGE_FILES is not set";
    std::string list = names;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string name = list.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        std::vector<std::uint8_t> bytes = file_bytes(name);
        ASSERT_FALSE(bytes.empty()) << name;
        const std::uint64_t size = bytes.size();
        memory_source source(std::move(bytes));
        EXPECT_EQ(image::end_of(source), size) << name;
    }
}

TEST(image_real, the_stubs_that_were_built_end_at_their_file_size) {
    std::vector<std::string> stubs;
    if (const char* binary = std::getenv("QUILLON_BINARY_DIR"))
        stubs.push_back(std::string(binary) + "/bin/quillon-sfx");
    for (const char* build : {"win32", "win64", "native", "app-win32", "app-win64", "app-native"}) {
        stubs.push_back(std::string(QUILLON_SOURCE_DIR) + "/build/" + build + "/bin/quillon-sfx.exe");
        stubs.push_back(std::string(QUILLON_SOURCE_DIR) + "/build/" + build + "/bin/quillon-sfx");
    }
    int found = 0;
    for (const std::string& name : stubs) {
        std::vector<std::uint8_t> bytes = file_bytes(name);
        if (bytes.empty()) continue;
        ++found;
        const std::uint64_t size = bytes.size();
        memory_source source(std::move(bytes));
        EXPECT_EQ(image::end_of(source), size) << name;
    }
    if (found == 0) GTEST_SKIP() << "no stub built yet";
}

}  // namespace
