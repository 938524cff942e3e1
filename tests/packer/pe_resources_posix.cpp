// The packer's resource editor: the stubs as built (when the Windows builds
// are there) and small hand-made images, rewritten with an icon, a version
// block and an execution level, then read back by the tests' own reader;
// hostile images, icon files, version strings and manifests refused with
// their exact messages.
#include "packer/pe_resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "errors/exception.h"
#include "tests/packer/pe_reader.h"

namespace {

using namespace pe_test;
using quillon::pack::resource_editor;
using placement = resource_editor::placement;
using level = resource_editor::execution_level;

bytes load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bytes stub(const char* build) {
    return load(std::string(QUILLON_SOURCE_DIR) + "/build/" + build + "/bin/quillon-sfx.exe");
}

std::uint32_t align(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// A program with one code section and no resources: the MS-DOS header
// pointing at 0x80, the file and optional headers, 16 empty data directory
// entries, .text at RVA 0x1000 with its 0x200 bytes at 0x400.
bytes bare_image(bool plus) {
    bytes b(0x600, 0);
    put(b, 0, 'M' | 'Z' << 8, 2);
    put(b, 0x3C, 0x80, 4);
    put(b, 0x80, 0x4550, 4);                 // "PE\0\0"
    put(b, 0x84, plus ? 0x8664 : 0x14C, 2);  // Machine
    put(b, 0x86, 1, 2);                      // NumberOfSections
    const std::uint32_t optional_size = plus ? 240 : 224;
    put(b, 0x94, optional_size, 2);  // SizeOfOptionalHeader
    put(b, 0x96, 0x0102, 2);         // executable, 32-bit words
    const std::size_t o = 0x98;
    put(b, o, plus ? 0x20B : 0x10B, 2);    // Magic
    put(b, o + 4, 0x200, 4);               // SizeOfCode
    put(b, o + 16, 0x1000, 4);             // AddressOfEntryPoint
    put(b, o + 32, 0x1000, 4);             // SectionAlignment
    put(b, o + 36, 0x200, 4);              // FileAlignment
    put(b, o + 56, 0x2000, 4);             // SizeOfImage
    put(b, o + 60, 0x400, 4);              // SizeOfHeaders
    put(b, o + 68, 2, 2);                  // Subsystem: GUI
    put(b, o + (plus ? 108 : 92), 16, 4);  // NumberOfRvaAndSizes
    const std::size_t text = o + optional_size;
    std::copy_n(".text", 5, b.begin() + static_cast<std::ptrdiff_t>(text));
    put(b, text + 8, 0x10, 4);         // VirtualSize
    put(b, text + 12, 0x1000, 4);      // VirtualAddress
    put(b, text + 16, 0x200, 4);       // SizeOfRawData
    put(b, text + 20, 0x400, 4);       // PointerToRawData
    put(b, text + 36, 0x60000020, 4);  // code, executable, readable
    b[0x400] = 0xC3;                   // ret
    return b;
}

// An icon file of square images, PNG (only its header: the editor copies
// images, it does not decode them; 256 is written as 0 in the directory,
// planes and bit count left 0 as many writers do) or 32-bit bitmaps.
struct icon_shape {
    std::uint32_t size;
    bool png;
};

bytes image_data(const icon_shape& shape) {
    bytes data;
    auto be32 = [&](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    if (shape.png) {
        data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        be32(13);
        data.insert(data.end(), {'I', 'H', 'D', 'R'});
        be32(shape.size);
        be32(shape.size);
        data.insert(data.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});  // 8 bits, RGBA; the CRC
        return data;
    }
    const std::uint32_t mask_row = (shape.size + 31) / 32 * 4;
    data.resize(40 + shape.size * shape.size * 4 + mask_row * shape.size);
    put(data, 0, 40, 4);
    put(data, 4, shape.size, 4);
    put(data, 8, shape.size * 2, 4);  // colours and mask
    put(data, 12, 1, 2);
    put(data, 14, 32, 2);
    return data;
}

bytes icon_file(const std::vector<icon_shape>& shapes) {
    bytes file(6 + 16 * shapes.size());
    put(file, 2, 1, 2);
    put(file, 4, static_cast<std::uint32_t>(shapes.size()), 2);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const bytes data = image_data(shapes[i]);
        const std::size_t entry = 6 + 16 * i;
        file[entry] = file[entry + 1] = static_cast<std::uint8_t>(shapes[i].size);
        put(file, entry + 4, shapes[i].png ? 0 : 1, 2);
        put(file, entry + 6, shapes[i].png ? 0 : 32, 2);
        put(file, entry + 8, static_cast<std::uint32_t>(data.size()), 4);
        put(file, entry + 12, static_cast<std::uint32_t>(file.size()), 4);
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

// The 128-pixel bitmap (64 KiB) makes the resources of the stubs grow by
// pages: what follows them must move.
const std::vector<icon_shape> icons = {{48, true}, {16, false}, {256, true}, {32, false}, {128, false}};

const resource_editor::version_strings strings = {{"ProductName", "Photo Viewer"},
                                                  {"FileVersion", "1.2.3"},
                                                  {"ProductVersion", "4.5.6.7"},
                                                  {"CompanyName", "Ünïcode Ltd €"},
                                                  {"FileDescription", "Photo Viewer Setup"},
                                                  {"LegalCopyright", "© 2024 nobody"},
                                                  {"OriginalFilename", "setup.exe"}};

bytes edit(const bytes& image, level wanted = level::require_administrator) {
    // Types added in an order other than theirs (to a bare image).
    resource_editor editor(image);
    editor.set_execution_level(wanted);
    editor.replace_version(strings);
    editor.replace_icon(icon_file(icons));
    return editor.image();
}

std::u16string wide(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += static_cast<char16_t>(code);
        i += 1 + extra;
    }
    return out;
}

bool changed_type(const std::string& key) {
    return key.rfind("3/", 0) == 0 || key.rfind("14/", 0) == 0 || key.rfind("16/", 0) == 0 || key.rfind("24/", 0) == 0;
}

std::uint32_t span(const section& s) { return s.virtual_size ? s.virtual_size : s.raw_size; }

std::uint32_t initialized_raw(const pe_file& pe) {
    std::uint32_t sum = 0;
    for (const section& s : pe.sections)
        if (s.characteristics & 0x40) sum += s.raw_size;
    return sum;
}

// The section table as the loader needs it: sections in order, aligned,
// back to back in memory and in the file, the file ending with the last;
// SizeOfImage, the checksum and the resource entry agreeing with them.
void expect_consistent(const pe_file& pe) {
    const std::uint32_t sa = pe.section_alignment(), fa = pe.file_alignment();
    std::uint32_t raw_end = pe.optional_field(60);
    for (std::size_t i = 0; i < pe.sections.size(); ++i) {
        const section& s = pe.sections[i];
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.address % sa, 0u);
        if (i > 0) {
            EXPECT_EQ(s.address, align(pe.sections[i - 1].address + span(pe.sections[i - 1]), sa));
        }
        EXPECT_EQ(s.raw_pointer % fa, 0u);
        EXPECT_EQ(s.raw_size % fa, 0u);
        EXPECT_GE(s.raw_pointer, raw_end);
        raw_end = s.raw_pointer + s.raw_size;
    }
    EXPECT_EQ(pe.file.size(), raw_end);
    EXPECT_EQ(pe.optional_field(56), align(pe.sections.back().address + span(pe.sections.back()), sa));
    EXPECT_EQ(pe.optional_field(64), checksum(pe));
    bool resources_start_a_section = false;
    for (const section& s : pe.sections)
        if (s.address == pe.directory_rva(2) && s.virtual_size >= pe.directory_size(2))
            resources_start_a_section = true;
    EXPECT_TRUE(resources_start_a_section);
}

void expect_version(const pe_file& pe) {
    ASSERT_EQ(pe.resources.count("16/1/1033"), 1u);
    const bytes& block = pe.resources.at("16/1/1033");
    const version_node root = read_version(block, 0, block.size());
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);
    EXPECT_EQ(get(root.value, 0, 4), 0xFEEF04BDu);
    EXPECT_EQ(get(root.value, 8, 4), 0x00010002u);  // FileVersion 1.2.3 padded with 0
    EXPECT_EQ(get(root.value, 12, 4), 0x00030000u);
    EXPECT_EQ(get(root.value, 16, 4), 0x00040005u);  // ProductVersion 4.5.6.7
    EXPECT_EQ(get(root.value, 20, 4), 0x00060007u);
    const version_node* table =
        root.child(u"StringFileInfo") ? root.child(u"StringFileInfo")->child(u"040904B0") : nullptr;
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->children.size(), strings.size());
    for (std::size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(table->children[i].key, wide(strings[i].first));
        EXPECT_EQ(table->children[i].text(), wide(strings[i].second));
        EXPECT_EQ(table->children[i].value_length, wide(strings[i].second).size() + 1);
    }
    const version_node* var = root.child(u"VarFileInfo") ? root.child(u"VarFileInfo")->child(u"Translation") : nullptr;
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(var->value, (bytes{0x09, 0x04, 0xB0, 0x04}));
}

// The group names one RT_ICON entry per image of the icon file, with the
// image's size, depth and bytes; no other icon is left.
void expect_icons(const pe_file& pe, const std::string& group_key) {
    ASSERT_EQ(pe.resources.count(group_key), 1u);
    const bytes& group = pe.resources.at(group_key);
    ASSERT_EQ(get(group, 4, 2), icons.size());
    std::size_t icon_entries = 0;
    for (const auto& [key, data] : pe.resources) icon_entries += key.rfind("3/", 0) == 0;
    EXPECT_EQ(icon_entries, icons.size());
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const std::size_t entry = 6 + 14 * i;
        EXPECT_EQ(group[entry], icons[i].size & 0xFF);
        EXPECT_EQ(group[entry + 1], icons[i].size & 0xFF);
        EXPECT_EQ(get(group, entry + 4, 2), 1u);   // planes
        EXPECT_EQ(get(group, entry + 6, 2), 32u);  // bits per pixel, from the PNG header too
        const std::string icon = "3/" + std::to_string(get(group, entry + 12, 2)) + "/1033";
        ASSERT_EQ(pe.resources.count(icon), 1u) << icon;
        EXPECT_EQ(pe.resources.at(icon), image_data(icons[i]));
        EXPECT_EQ(get(group, entry + 8, 4), image_data(icons[i]).size());
    }
}

std::string manifest_of(const pe_file& pe) {
    const bytes& m = pe.resources.at("24/1/1033");
    return std::string(m.begin(), m.end());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct image_case {
    const char* name;
    std::function<bytes()> make;
    placement expected;
    const char* group;  // the icon group's key after the edit
};

bytes without_moving(bytes image) {
    // The stub with its .reloc renamed: a section that may not move follows
    // the resources, which then go into a new section.
    if (image.empty()) return image;
    const pe_file pe = read_pe(image);
    for (const section& s : pe.sections)
        if (s.name == ".reloc") std::copy_n(".zdata\0", 8, image.begin() + static_cast<std::ptrdiff_t>(s.header));
    return image;
}

const image_case image_cases[] = {
    {"the 32-bit stub", [] { return stub("win32"); }, placement::relocations_moved, "14/ICON/1033"},
    {"the 64-bit stub", [] { return stub("win64"); }, placement::relocations_moved, "14/ICON/1033"},
    {"the 64-bit stub, a fixed section after .rsrc", [] { return without_moving(stub("win64")); },
     placement::new_section, "14/ICON/1033"},
    {"a PE32 image without resources", [] { return bare_image(false); }, placement::new_section, "14/ICON/1033"},
    {"a PE32+ image without resources", [] { return bare_image(true); }, placement::new_section, "14/ICON/1033"},
    {"a PE32 image edited before", [] { return edit(bare_image(false), level::as_invoker); }, placement::last_section,
     "14/ICON/1033"},
};

TEST(resource_editor, rewritten_images_read_back) {
    for (const image_case& c : image_cases) {
        SCOPED_TRACE(c.name);
        const bytes original = c.make();
        if (original.empty()) {
            std::cout << "skipped: " << c.name << " (not built)\n";
            continue;
        }
        EXPECT_EQ(resource_editor(original).where(), c.expected);
        const pe_file before = read_pe(original), after = read_pe(edit(original));
        expect_consistent(after);
        expect_version(after);
        expect_icons(after, c.group);
        const std::string manifest = manifest_of(after);
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
                  std::string::npos)
            << manifest;
        if (before.resources.count("24/1/1033")) {
            EXPECT_EQ(manifest, replaced(manifest_of(before), "\"asInvoker\"", "\"requireAdministrator\""));
        }
        for (const auto& [key, data] : before.resources)
            if (!changed_type(key)) {
                EXPECT_EQ(after.resources.count(key) ? after.resources.at(key) : bytes(), data) << key;
            }
        for (const auto& [key, data] : after.resources)
            EXPECT_TRUE(changed_type(key) || before.resources.count(key)) << key;
        // The relocations are the same bytes, wherever they are now; the
        // initialized data grew by what the sections grew.
        if (before.directory_rva(5) != 0) {
            EXPECT_EQ(after.sections.back().name, c.expected == placement::new_section ? ".rsrc" : ".reloc");
            EXPECT_EQ(after.at_rva(after.directory_rva(5), after.directory_size(5)),
                      before.at_rva(before.directory_rva(5), before.directory_size(5)));
        }
        EXPECT_EQ(after.optional_field(8) - before.optional_field(8), initialized_raw(after) - initialized_raw(before));
        if (c.expected == placement::new_section) {
            // Nothing before the new section moved or changed.
            ASSERT_EQ(after.sections.size(), before.sections.size() + 1);
            EXPECT_TRUE(std::equal(before.file.begin() + static_cast<std::ptrdiff_t>(before.sections[0].raw_pointer),
                                   before.file.end(),
                                   after.file.begin() + static_cast<std::ptrdiff_t>(before.sections[0].raw_pointer)));
        }
    }
}

TEST(resource_editor, every_other_directory_entry_is_kept) {
    const bytes original = stub("win64");
    if (original.empty()) GTEST_SKIP() << "no 64-bit stub built";
    const pe_file before = read_pe(original), after = read_pe(edit(original));
    for (unsigned entry = 0; entry < 16; ++entry) {
        if (entry == 2 || entry == 5) continue;
        EXPECT_EQ(after.directory_rva(entry), before.directory_rva(entry)) << entry;
        EXPECT_EQ(after.directory_size(entry), before.directory_size(entry)) << entry;
    }
}

// -- hostile images: the bare image with resources, changed in one place

struct tree_places {
    std::size_t tree;        // the file offset of the resource tree
    std::size_t type_dir;    // offsets in the tree: the first type's table,
    std::size_t name_dir;    // its first name's table,
    std::size_t data_entry;  // that name's first data entry
};

tree_places places(const bytes& image) {
    const pe_file pe = read_pe(image);
    tree_places p;
    p.tree = pe.offset_of(pe.directory_rva(2));
    p.type_dir = get(image, p.tree + 20, 4) & 0x7FFFFFFF;
    p.name_dir = get(image, p.tree + p.type_dir + 20, 4) & 0x7FFFFFFF;
    p.data_entry = get(image, p.tree + p.name_dir + 20, 4);
    return p;
}

// Every language entry of the tree pointed at one data entry that spans the
// whole resource section.
void share_one_data_entry(bytes& image) {
    const pe_file pe = read_pe(image);
    const tree_places p = places(image);
    const std::size_t t = p.tree;
    for (std::uint32_t i = 0; i < get(image, t + 14, 2); ++i) {
        const std::size_t type = get(image, t + 16 + 8 * i + 4, 4) & 0x7FFFFFFF;
        for (std::uint32_t j = 0; j < get(image, t + type + 14, 2); ++j) {
            const std::size_t name = get(image, t + type + 16 + 8 * j + 4, 4) & 0x7FFFFFFF;
            for (std::uint32_t k = 0; k < get(image, t + name + 14, 2); ++k)
                put(image, t + name + 16 + 8 * k + 4, static_cast<std::uint32_t>(p.data_entry), 4);
        }
    }
    put(image, t + p.data_entry, pe.sections.back().address, 4);
    put(image, t + p.data_entry + 4, pe.sections.back().raw_size, 4);
}

struct hostile_case {
    const char* hazard;
    std::function<void(bytes&, const tree_places&)> change;
    const char* message;
};

const hostile_case hostile_cases[] = {
    {"cut inside the MS-DOS header", [](bytes& b, auto&) { b.resize(0x30); }, "not a Windows program (no MZ header)"},
    {"PE header pointer past the end", [](bytes& b, auto&) { put(b, 0x3C, 0x7FFFFFF0, 4); },
     "the PE header lies outside the file"},
    {"cut inside the optional header", [](bytes& b, auto&) { b.resize(0x100); }, "the optional header is truncated"},
    {"cut inside the last section", [](bytes& b, auto&) { b.resize(b.size() - 0x200); },
     "section 2's data lies outside the file"},
    {"a section reaching past 4 GiB", [](bytes& b, auto&) { put(b, 0x98 + 224 + 40 + 8, 0xFFFFF000, 4); },
     "section 2 reaches past 4 GiB"},
    {"a section over the headers", [](bytes& b, auto&) { put(b, 0x98 + 224 + 12, 0, 4); },
     "section 1 is not aligned or overlaps what lies before it in memory"},
    {"no sections", [](bytes& b, auto&) { put(b, 0x86, 0, 2); }, "the image has 0 sections"},
    {"section table past the headers", [](bytes& b, auto&) { put(b, 0x98 + 60, 0x100, 4); },
     "the section table lies outside the headers"},
    {"file alignment not a power of two", [](bytes& b, auto&) { put(b, 0x98 + 36, 0x300, 4); },
     "the image's alignments are not powers of two with the file's no larger than the sections'"},
    {"data directory larger than the optional header", [](bytes& b, auto&) { put(b, 0x98 + 92, 17, 4); },
     "the data directory does not fit in the optional header"},
    {"an archive already appended",
     [](bytes& b, auto&) {
         b.insert(b.end(), {'P', 'K', 5, 6});
     },
     "the image is followed by data (a symbol table or an archive): change the resources of the bare stub"},
    {"signed", [](bytes& b, auto&) { put(b, 0x98 + 96 + 4 * 8, 0x10000, 4), put(b, 0x98 + 96 + 4 * 8 + 4, 0x100, 4); },
     "the program is signed, and its signature would not match the changed resources: sign it after packing"},
    {"resource directory outside every section", [](bytes& b, auto&) { put(b, 0x98 + 96 + 2 * 8, 0x100000, 4); },
     "the resource directory lies outside every section"},
    {"a type leads back to the root", [](bytes& b, const tree_places& p) { put(b, p.tree + 20, 0x80000000, 4); },
     "the resource tree reaches a directory twice"},
    {"a type leads past the section",
     [](bytes& b, const tree_places& p) { put(b, p.tree + 20, 0x80000000 | 0x7FFFFF00, 4); },
     "a resource directory lies outside the resource section"},
    {"the root claims 65535 entries", [](bytes& b, const tree_places& p) { put(b, p.tree + 14, 0xFFFF, 2); },
     "a resource directory's entries lie outside the resource section"},
    {"a name past the section", [](bytes& b, const tree_places& p) { put(b, p.tree + 16, 0x80000000 | 0x7FFFFF00, 4); },
     "a resource name lies outside the resource section"},
    {"an id above 65535", [](bytes& b, const tree_places& p) { put(b, p.tree + 16, 0x10000, 4); },
     "a resource id is larger than 65535"},
    {"a type entry that is data", [](bytes& b, const tree_places& p) { put(b, p.tree + 20, 0x10, 4); },
     "a resource lies above the language level of the tree"},
    {"a language entry that is a directory",
     [](bytes& b, const tree_places& p) {
         put(b, p.tree + p.name_dir + 20, 0x80000000 | static_cast<std::uint32_t>(p.type_dir), 4);
     },
     "the resource tree is deeper than type, name and language"},
    {"a data entry past the section",
     [](bytes& b, const tree_places& p) { put(b, p.tree + p.name_dir + 20, 0x7FFFFF00, 4); },
     "a resource data entry lies outside the resource section"},
    {"data at an RVA outside the image",
     [](bytes& b, const tree_places& p) { put(b, p.tree + p.data_entry, 0x7FFF0000, 4); },
     "a resource's data lies outside the image"},
    {"data longer than its section",
     [](bytes& b, const tree_places& p) { put(b, p.tree + p.data_entry + 4, 0x7FFFFFFF, 4); },
     "a resource's data lies outside the image"},
    {"every resource one data entry spanning the section", [](bytes& b, auto&) { share_one_data_entry(b); },
     "the resources' data add up to more than the image"},
};

TEST(resource_editor, hostile_images_are_refused) {
    const bytes good = edit(bare_image(false));
    const tree_places p = places(good);
    for (const hostile_case& c : hostile_cases) {
        SCOPED_TRACE(c.hazard);
        bytes image = good;
        c.change(image, p);
        try {
            resource_editor editor(image);
            FAIL() << "accepted";
        } catch (const format::exception& failure) {
            EXPECT_EQ(failure.message, c.message);
            EXPECT_EQ(failure.where, "quillon::pack::resource_editor");
        }
    }
}

// Every truncation of a good image is refused, or (cut after the data)
// still a whole image; none reads outside the buffer (the sanitizers watch).
TEST(resource_editor, every_truncation_ends_in_an_error) {
    const bytes good = edit(bare_image(true));
    for (std::size_t size = 0; size < good.size(); size += 7) {
        bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_THROW(resource_editor{cut}, format::exception) << size;
    }
}

// -- what the editor is given besides the image

void expect_refused(const std::function<void()>& act, const std::string& message) {
    try {
        act();
        ADD_FAILURE() << "accepted; wanted " << message;
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.message, message);
    }
}

TEST(resource_editor, bad_icon_files_are_refused) {
    bytes cursor = icon_file({{16, false}});
    put(cursor, 2, 2, 2);
    bytes none = icon_file({{16, false}});
    put(none, 4, 0, 2);
    bytes cut = icon_file({{16, false}});
    cut.resize(20);
    bytes outside = icon_file({{16, false}});
    put(outside, 6 + 12, 0x10000, 4);
    bytes garbage = icon_file({{16, false}});
    put(garbage, 22, 0x28 + 1, 4);
    bytes odd_png = icon_file({{16, true}});
    odd_png[22 + 25] = 5;
    const std::pair<bytes, const char*> cases[] = {
        {{}, "the icon file is truncated"},
        {cursor, "not an icon file (.ico)"},
        {none, "the icon file holds no image"},
        {cut, "the icon file is truncated"},
        {outside, "icon image 1 lies outside the icon file"},
        {garbage, "icon image 1 is neither PNG nor a bitmap"},
        {odd_png, "icon image 1 has an unknown PNG colour type"},
    };
    for (const auto& [file, message] : cases) {
        resource_editor editor(bare_image(false));
        expect_refused([&, &file = file] { editor.replace_icon(file); }, message);
    }
}

TEST(resource_editor, version_strings_are_parsed_or_refused) {
    using strings_t = resource_editor::version_strings;
    EXPECT_EQ(resource_editor::parse_version_strings(" ProductName = a b ;;FileVersion=1.2;"),
              (strings_t{{"ProductName", " a b "}, {"FileVersion", "1.2"}}));
    const std::pair<const char*, const char*> refused[] = {
        {"Product=1",
         "unknown version information key \"Product\" (known: Comments, CompanyName, FileDescription, "
         "FileVersion, InternalName, LegalCopyright, LegalTrademarks, OriginalFilename, PrivateBuild, "
         "ProductName, ProductVersion, SpecialBuild)"},
        {"ProductName", "version information part \"ProductName\" is not Key=value"},
        {"ProductName=a;ProductName=b", "version information key ProductName is given twice"},
        {"FileVersion=1.2.3.4.5", "FileVersion \"1.2.3.4.5\" is not 1 to 4 numbers from 0 to 65535 separated by dots"},
        {"FileVersion=1.65536", "FileVersion \"1.65536\" is not 1 to 4 numbers from 0 to 65535 separated by dots"},
        {"ProductVersion=1..2", "ProductVersion \"1..2\" is not 1 to 4 numbers from 0 to 65535 separated by dots"},
        {"ProductVersion=v1", "ProductVersion \"v1\" is not 1 to 4 numbers from 0 to 65535 separated by dots"},
        {"CompanyName=\xff", "CompanyName is not UTF-8"},
        {"", "the version block needs at least one string"},
    };
    for (const auto& [text, message] : refused) {
        SCOPED_TRACE(text);
        resource_editor editor(bare_image(false));
        expect_refused([&, text = text] { editor.replace_version(resource_editor::parse_version_strings(text)); },
                       message);
    }
}

TEST(resource_editor, manifests_get_the_level_and_keep_the_rest) {
    const std::string head = "<?xml version=\"1.0\"?>\n<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\">";
    const std::string trust =
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/></requestedPrivileges>"
        "</security></trustInfo>";
    const std::pair<std::string, std::string> cases[] = {
        // level replaced in place, other attributes and quotes kept
        {head + "<trustInfo><security><requestedPrivileges><requestedExecutionLevel uiAccess='false' level='asInvoker' "
                "/></requestedPrivileges></security></trustInfo></assembly>",
         head + "<trustInfo><security><requestedPrivileges><requestedExecutionLevel uiAccess='false' "
                "level='requireAdministrator' /></requestedPrivileges></security></trustInfo></assembly>"},
        // an element without the attribute gets one
        {head + "<requestedExecutionLevel uiAccess=\"false\"/></assembly>",
         head + "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/></assembly>"},
        // missing children added with their parent's prefix
        {head + "<v3:trustInfo xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\"><v3:security></v3:security>"
                "</v3:trustInfo></assembly>",
         head + "<v3:trustInfo xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\"><v3:security><v3:requestedPrivileges>"
                "<v3:requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
                "</v3:requestedPrivileges></v3:security></v3:trustInfo></assembly>"},
        // an empty parent opened around them
        {head + "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\" /></assembly>",
         head + "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
                "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/></requestedPrivileges>"
                "</security></trustInfo></assembly>"},
        // no trustInfo: one added at the end; comments and a '>' inside
        // quotes are not tags
        {head + "<!-- <requestedExecutionLevel level=\"asInvoker\"/> --><description a=\"x>y\">d</description>"
                "</assembly>\n",
         head + "<!-- <requestedExecutionLevel level=\"asInvoker\"/> --><description a=\"x>y\">d</description>" +
             trust + "</assembly>\n"},
    };
    for (const auto& [manifest, wanted] : cases)
        EXPECT_EQ(resource_editor::manifest_with_level(manifest, level::require_administrator), wanted);
    EXPECT_EQ(resource_editor::manifest_with_level(cases[0].second, level::as_invoker),
              replaced(cases[0].second, "requireAdministrator", "asInvoker"));
    const std::pair<std::string, const char*> refused[] = {
        {"<?xml version=\"1.0\"?><other/>", "the manifest's root element is not assembly"},
        {head + "<!-- open", "the manifest is not XML the editor can follow"},
        {head + "<trustInfo a=\"b>", "the manifest is not XML the editor can follow"},
        {head + "<requestedExecutionLevel level/></assembly>", "the manifest is not XML the editor can follow"},
    };
    for (const auto& [manifest, message] : refused)
        expect_refused([&, &m = manifest] { resource_editor::manifest_with_level(m, level::as_invoker); }, message);
}

}  // namespace
