#include "packer/pe_resources.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "errors/exception.h"
#include "io/text/utf8.h"
#include "zip/byte_buffer.h"

namespace quillon::pack {

namespace {

using format::zip::byte_buffer;

constexpr char where[] = "quillon::pack::resource_editor";

[[noreturn]] void fail(const std::string& message) { throw format::exception(message, where); }

// The MS-DOS header, and the PE signature its last field points at.
constexpr std::size_t dos_header_size = 64, pe_pointer_field = 0x3C;
constexpr std::uint32_t pe_signature = 0x00004550;  // "PE\0\0"
// The COFF file header after the signature, its fields from its start.
constexpr std::size_t file_header_size = 20, section_count_field = 2, optional_size_field = 16;
// Optional header fields, from its start; the same in PE32 and PE32+ up to
// the data directory, whose count and entries the wider fields of PE32+
// move by 16 bytes.
constexpr std::uint32_t pe32_magic = 0x10B, pe32_plus_magic = 0x20B;
constexpr std::size_t initialized_size_field = 8, section_alignment_field = 32, file_alignment_field = 36;
constexpr std::size_t image_size_field = 56, headers_size_field = 60, checksum_field = 64;
constexpr std::size_t pe32_directory_count_field = 92, pe32_plus_directory_count_field = 108;
constexpr std::size_t directory_entry_size = 8;  // VirtualAddress, Size
static_assert(pe32_plus_directory_count_field - pe32_directory_count_field == 16,
              "ImageBase and the stack sizes widen");
// Data directory entries.
constexpr unsigned resource_entry = 2, certificate_entry = 4, relocation_entry = 5, debug_entry = 6;
// Section headers.
constexpr std::size_t section_header_size = 40, name_size = 8;
constexpr std::size_t virtual_size_field = 8, address_field = 12, raw_size_field = 16, raw_pointer_field = 20;
constexpr std::size_t characteristics_field = 36;
constexpr std::uint32_t initialized_data = 0x00000040, readable = 0x40000000;
constexpr std::size_t most_sections = 96;  // the loader's limit
// Base relocation blocks: page RVA, block size, then 16-bit entries (type
// in the high 4 bits, 0 = padding; offset in the page in the low 12).
constexpr std::uint32_t relocation_block_header = 8;
// Debug directory entries: SizeOfData and PointerToRawData (a file offset).
constexpr std::size_t debug_entry_size = 28, debug_size_field = 16, debug_pointer_field = 24;

// The resource tree: directory tables, their entries, the data entries
// that lead to the data. Offsets in it count from the tree's start; the
// high bit of an entry's name marks a string, of its target a directory.
constexpr std::size_t table_header_size = 16, table_entry_size = 8, data_entry_size = 16;
constexpr std::uint32_t high_bit = 0x80000000;
constexpr std::size_t resource_data_alignment = 8;
constexpr std::uint16_t us_english = 0x0409;
constexpr std::uint32_t tree_levels = 3;  // type, name, language

// .ico files and the icon groups made from them: a 6-byte header
// (reserved 0, type 1, count) and one entry per image, 16 bytes in the file
// (ending in the image's size and offset), 14 in a group (its size and its
// RT_ICON id).
constexpr std::size_t icon_header_size = 6, icon_file_entry_size = 16, icon_group_entry_size = 14;
constexpr std::uint16_t icon_resource_type = 1;
constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t png_bit_depth = 24, png_colour_type = 25;  // in IHDR, the first chunk
constexpr std::uint32_t bitmap_header_sizes[] = {40, 108, 124};  // BITMAPINFOHEADER, V4, V5
constexpr std::size_t bitmap_planes = 12, bitmap_bit_count = 14;

// VS_FIXEDFILEINFO.
constexpr std::uint32_t fixed_signature = 0xFEEF04BD, fixed_structure_version = 0x00010000;
constexpr std::uint32_t file_flags_mask = 0x3F, windows_nt_32 = 0x00040004, application = 1;
constexpr std::uint16_t fixed_info_size = 52;
static_assert(fixed_info_size == 13 * 4, "VS_FIXEDFILEINFO is 13 DWORDs");
constexpr std::uint16_t binary_value = 0, text_value = 1;  // wType
constexpr std::uint16_t unicode_code_page = 0x04B0;

std::uint32_t align_up(std::uint64_t value, std::uint32_t alignment) {
    const std::uint64_t aligned = (value + alignment - 1) / alignment * alignment;
    if (aligned > 0xFFFFFFFFu) fail("the image would grow past 4 GiB");
    return static_cast<std::uint32_t>(aligned);
}

bool power_of_two(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// A little-endian field of `size` bytes at `at`, or `what` when it does not
// lie wholly inside `bytes`.
std::uint32_t field(const std::vector<std::uint8_t>& bytes, std::size_t at, unsigned size, const char* what) {
    if (at > bytes.size() || size > bytes.size() - at) fail(what);
    return static_cast<std::uint32_t>(byte_buffer::get(bytes.data() + at, size));
}

void set(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, unsigned size) {
    byte_buffer::set(bytes.data() + at, value, size);
}

void pad(byte_buffer& out, std::size_t alignment) {
    while (out.bytes.size() % alignment != 0) out.put8(0);
}

// Named entries first, in order of their names; then numbered ones in order
// of their numbers: the order the system's binary search expects.
bool comes_before(const resource_editor::key& a, const resource_editor::key& b) {
    if (a.named() != b.named()) return a.named();
    return a.named() ? a.name < b.name : a.id < b.id;
}

template <typename Node>
void insert_sorted(std::vector<Node>& nodes, Node node, resource_editor::key Node::*key_of) {
    auto at = std::find_if(nodes.begin(), nodes.end(),
                           [&](const Node& other) { return comes_before(node.*key_of, other.*key_of); });
    nodes.insert(at, std::move(node));
}

resource_editor::key numbered(std::uint16_t id) { return {std::u16string(), id}; }

// -- reading the tree

struct raw_entry {
    resource_editor::key key;
    std::uint32_t target;  // the high bit set: a directory
};

// The tree's bytes from its start to the end of its section's data; every
// directory may be reached once (which also ends loops).
class tree_reader {
public:
    tree_reader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    std::vector<raw_entry> directory(std::uint32_t offset, resource_editor::directory_info& info) {
        if (!seen_.insert(offset).second) fail("the resource tree reaches a directory twice");
        if (offset > size_ || table_header_size > size_ - offset)
            fail("a resource directory lies outside the resource section");
        info.characteristics = u32(offset);
        info.time_stamp = u32(offset + 4);
        info.major = u16(offset + 8);
        info.minor = u16(offset + 10);
        const std::size_t count = std::size_t{u16(offset + 12)} + u16(offset + 14);
        const std::size_t first = offset + table_header_size;
        if (count > (size_ - first) / table_entry_size)
            fail("a resource directory's entries lie outside the resource section");
        std::vector<raw_entry> entries;
        entries.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = first + i * table_entry_size;
            entries.push_back({key(u32(at)), u32(at + 4)});
        }
        return entries;
    }

    // The data entry at `offset`: the data's RVA, its size, its code page.
    void data_entry(std::uint32_t offset, std::uint32_t& rva, std::uint32_t& size, std::uint32_t& code_page) const {
        if (offset > size_ || data_entry_size > size_ - offset)
            fail("a resource data entry lies outside the resource section");
        rva = u32(offset);
        size = u32(offset + 4);
        code_page = u32(offset + 8);
    }

private:
    resource_editor::key key(std::uint32_t name) const {
        if ((name & high_bit) == 0) {
            if (name > 0xFFFF) fail("a resource id is larger than 65535");
            return numbered(static_cast<std::uint16_t>(name));
        }
        const std::size_t at = name & ~high_bit;
        if (at > size_ || 2 > size_ - at) fail("a resource name lies outside the resource section");
        const std::size_t length = u16(at);
        if (length == 0) fail("a resource name is empty");
        if (length > (size_ - at - 2) / 2) fail("a resource name lies outside the resource section");
        resource_editor::key made;
        for (std::size_t i = 0; i < length; ++i) made.name += static_cast<char16_t>(u16(at + 2 + 2 * i));
        return made;
    }

    std::uint32_t u16(std::size_t at) const { return static_cast<std::uint32_t>(byte_buffer::get(bytes_ + at, 2)); }
    std::uint32_t u32(std::size_t at) const { return static_cast<std::uint32_t>(byte_buffer::get(bytes_ + at, 4)); }

    const std::uint8_t* bytes_;
    std::size_t size_;
    std::set<std::uint32_t> seen_;
};

// -- icons

struct icon_image {
    std::uint8_t width, height, colours;
    std::uint16_t planes, bit_count;
    std::vector<std::uint8_t> data;
};

// The planes and bits per pixel an image's own header gives, for .ico
// entries that leave them 0 (as many writers do for PNG images).
void complete_colour_depth(icon_image& image, std::size_t number) {
    const std::vector<std::uint8_t>& data = image.data;
    const std::string which = "icon image " + std::to_string(number);
    if (data.size() >= sizeof png_signature && std::equal(png_signature, png_signature + 8, data.begin())) {
        if (image.bit_count != 0) return;
        const char* short_header = "the PNG header of an icon image is truncated";
        const std::uint32_t depth = field(data, png_bit_depth, 1, short_header);
        static constexpr std::uint8_t channels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
        const std::uint32_t type = field(data, png_colour_type, 1, short_header);
        if (type >= sizeof channels || channels[type] == 0) fail(which + " has an unknown PNG colour type");
        image.planes = 1;
        image.bit_count = static_cast<std::uint16_t>(depth * channels[type]);
        return;
    }
    const std::uint32_t header = data.size() >= 4 ? field(data, 0, 4, "") : 0;
    if (std::find(std::begin(bitmap_header_sizes), std::end(bitmap_header_sizes), header) ==
            std::end(bitmap_header_sizes) ||
        data.size() < header)
        fail(which + " is neither PNG nor a bitmap");
    if (image.planes == 0) image.planes = static_cast<std::uint16_t>(field(data, bitmap_planes, 2, ""));
    if (image.bit_count == 0) image.bit_count = static_cast<std::uint16_t>(field(data, bitmap_bit_count, 2, ""));
}

std::vector<icon_image> read_icon_file(const std::vector<std::uint8_t>& file) {
    const char* short_file = "the icon file is truncated";
    if (field(file, 0, 2, short_file) != 0 || field(file, 2, 2, short_file) != icon_resource_type)
        fail("not an icon file (.ico)");
    const std::size_t count = field(file, 4, 2, short_file);
    if (count == 0) fail("the icon file holds no image");
    if (icon_header_size + count * icon_file_entry_size > file.size()) fail(short_file);
    std::vector<icon_image> images;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = icon_header_size + i * icon_file_entry_size;
        icon_image image{file[entry],
                         file[entry + 1],
                         file[entry + 2],
                         static_cast<std::uint16_t>(field(file, entry + 4, 2, short_file)),
                         static_cast<std::uint16_t>(field(file, entry + 6, 2, short_file)),
                         {}};
        const std::size_t size = field(file, entry + 8, 4, short_file);
        const std::size_t offset = field(file, entry + 12, 4, short_file);
        if (size == 0 || offset > file.size() || size > file.size() - offset)
            fail("icon image " + std::to_string(i + 1) + " lies outside the icon file");
        image.data.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                          file.begin() + static_cast<std::ptrdiff_t>(offset + size));
        complete_colour_depth(image, i + 1);
        images.push_back(std::move(image));
    }
    return images;
}

std::vector<std::uint8_t> icon_group(const std::vector<icon_image>& images, const std::vector<std::uint16_t>& ids) {
    byte_buffer group;
    group.put16(0);
    group.put16(icon_resource_type);
    group.put16(static_cast<std::uint32_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const icon_image& image = images[i];
        group.put8(image.width);
        group.put8(image.height);
        group.put8(image.colours);
        group.put8(0);
        group.put16(image.planes);
        group.put16(image.bit_count);
        group.put32(image.data.size());
        group.put16(ids[i]);
    }
    return group.bytes;
}

// The RT_ICON ids an icon group names.
std::vector<std::uint16_t> icon_ids(const std::vector<std::uint8_t>& group) {
    const char* damaged = "the program's icon group is damaged";
    const std::size_t count = field(group, 4, 2, damaged);
    if (icon_header_size + count * icon_group_entry_size > group.size()) fail(damaged);
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(
            static_cast<std::uint16_t>(field(group, icon_header_size + i * icon_group_entry_size + 12, 2, "")));
    return ids;
}

// -- the version block

std::u16string utf16(const std::string& text, const std::string& what) {
    const std::u16string wide = any::utf8::decode(text);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            fail(what + " is not UTF-8");
        }
    }
    return wide;
}

// One node of the block: its length, its value's length (in characters for
// text, in bytes for binary values), its type, its key (UTF-16, ended by a
// zero), padding to 32 bits, its value, and each child on a 32-bit
// boundary. The length leaves out the padding after the last child.
std::vector<std::uint8_t> version_node(const std::u16string& key, std::uint16_t type, std::uint16_t value_length,
                                       const std::vector<std::uint8_t>& value,
                                       const std::vector<std::vector<std::uint8_t>>& children) {
    byte_buffer node;
    node.put16(0);
    node.put16(value_length);
    node.put16(type);
    for (char16_t c : key) node.put16(c);
    node.put16(0);
    pad(node, 4);
    node.put(value);
    for (const std::vector<std::uint8_t>& child : children) {
        pad(node, 4);
        node.put(child);
    }
    if (node.bytes.size() > 0xFFFF) fail("the version block would be longer than 64 KiB");
    set(node.bytes, 0, node.bytes.size(), 2);
    return node.bytes;
}

// "1.2.3.4" as two 32-bit halves, the most significant first.
void version_numbers(const std::string& key, const std::string& text, std::uint32_t& high, std::uint32_t& low) {
    std::uint32_t parts[4] = {};
    std::size_t count = 0, at = 0;
    for (;;) {
        const std::size_t dot = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, dot - at);
        const bool number = !part.empty() && part.size() <= 5 &&
                            std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (count == 4 || !number || std::stoul(part) > 0xFFFF)
            fail(key + " \"" + text + "\" is not 1 to 4 numbers from 0 to 65535 separated by dots");
        parts[count++] = static_cast<std::uint32_t>(std::stoul(part));
        if (dot == text.size()) break;
        at = dot + 1;
    }
    high = parts[0] << 16 | parts[1];
    low = parts[2] << 16 | parts[3];
}

std::vector<std::uint8_t> fixed_file_info(const resource_editor::version_strings& strings) {
    // [0, 1]: FileVersion, [2, 3]: ProductVersion; each stands for the
    // other when only one is given.
    std::uint32_t numbers[4] = {};
    bool file = false, product = false;
    for (const auto& [key, value] : strings) {
        if (key == "FileVersion") version_numbers(key, value, numbers[0], numbers[1]), file = true;
        if (key == "ProductVersion") version_numbers(key, value, numbers[2], numbers[3]), product = true;
    }
    if (!file) numbers[0] = numbers[2], numbers[1] = numbers[3];
    if (!product) numbers[2] = numbers[0], numbers[3] = numbers[1];
    byte_buffer info;
    info.put32(fixed_signature);
    info.put32(fixed_structure_version);
    for (std::uint32_t number : numbers) info.put32(number);
    info.put32(file_flags_mask);
    info.put32(0);  // flags: a release build
    info.put32(windows_nt_32);
    info.put32(application);
    info.put32(0);  // subtype
    info.put32(0);  // date, high and low
    info.put32(0);
    return info.bytes;
}

std::vector<std::uint8_t> version_block(const resource_editor::version_strings& strings) {
    std::vector<std::vector<std::uint8_t>> values;
    for (const auto& [key, value] : strings) {
        const std::u16string text = utf16(value, key);
        byte_buffer characters;
        for (char16_t c : text) characters.put16(c);
        characters.put16(0);
        if (text.size() + 1 > 0xFFFF) fail(key + " is too long");
        values.push_back(version_node(utf16(key, key), text_value, static_cast<std::uint16_t>(text.size() + 1),
                                      characters.bytes, {}));
    }
    const auto table = version_node(u"040904B0", text_value, 0, {}, values);
    const auto string_info = version_node(u"StringFileInfo", text_value, 0, {}, {table});
    byte_buffer translation;
    translation.put16(us_english);
    translation.put16(unicode_code_page);
    const auto var = version_node(u"Translation", binary_value, 4, translation.bytes, {});
    const auto var_info = version_node(u"VarFileInfo", text_value, 0, {}, {var});
    return version_node(u"VS_VERSION_INFO", binary_value, fixed_info_size, fixed_file_info(strings),
                        {string_info, var_info});
}

// -- the manifest

// A tag of the manifest: its bytes [start, end), its name as written
// (maybe with a namespace prefix), whether it closes an element or is an
// empty element.
struct xml_tag {
    std::size_t start, end;
    std::string name;
    bool closing, empty;

    std::string prefix() const {
        const std::size_t colon = name.find(':');
        return colon == std::string::npos ? std::string() : name.substr(0, colon + 1);
    }
    bool is(const char* local) const { return name.substr(prefix().size()) == local; }
};

[[noreturn]] void not_followed() { fail("the manifest is not XML the editor can follow"); }

// The tags of `xml`, skipping comments, CDATA sections, processing
// instructions and declarations; a '>' inside quotes does not end a tag.
std::vector<xml_tag> scan_tags(const std::string& xml) {
    std::vector<xml_tag> tags;
    auto skip_to = [&](std::size_t from, const char* end) {
        const std::size_t found = xml.find(end, from);
        if (found == std::string::npos) not_followed();
        return found + std::char_traits<char>::length(end);
    };
    for (std::size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at)) {
        if (xml.compare(at, 4, "<!--") == 0) {
            at = skip_to(at + 4, "-->");
        } else if (xml.compare(at, 9, "<![CDATA[") == 0) {
            at = skip_to(at + 9, "]]>");
        } else if (xml.compare(at, 2, "<?") == 0) {
            at = skip_to(at + 2, "?>");
        } else if (xml.compare(at, 2, "<!") == 0) {
            at = skip_to(at + 2, ">");
        } else {
            xml_tag tag{at, 0, "", false, false};
            std::size_t p = at + 1;
            if (p < xml.size() && xml[p] == '/') tag.closing = true, ++p;
            while (p < xml.size() && !std::isspace(static_cast<unsigned char>(xml[p])) && xml[p] != '>' &&
                   xml[p] != '/')
                tag.name += xml[p++];
            if (tag.name.empty()) not_followed();
            for (char quote = 0; p < xml.size() && (quote || xml[p] != '>'); ++p) {
                if (quote && xml[p] == quote) {
                    quote = 0;
                } else if (!quote && (xml[p] == '"' || xml[p] == '\'')) {
                    quote = xml[p];
                }
            }
            if (p == xml.size()) not_followed();
            tag.empty = xml[p - 1] == '/';
            tag.end = at = p + 1;
            tags.push_back(tag);
        }
    }
    return tags;
}

// The start tag `tag` with its level attribute set to `level` (added after
// the name when it has none).
std::string with_level(const std::string& xml, const xml_tag& tag, const std::string& level) {
    std::string text = xml.substr(tag.start, tag.end - tag.start);
    std::size_t p = 1 + tag.name.size();
    for (;;) {
        while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
        if (p >= text.size() || text[p] == '/' || text[p] == '>') break;
        const std::size_t name_start = p;
        while (p < text.size() && text[p] != '=' && !std::isspace(static_cast<unsigned char>(text[p]))) ++p;
        const std::string name = text.substr(name_start, p - name_start);
        while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
        if (p >= text.size() || text[p] != '=') not_followed();
        ++p;
        while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
        if (p >= text.size() || (text[p] != '"' && text[p] != '\'')) not_followed();
        const std::size_t close = text.find(text[p], p + 1);
        if (close == std::string::npos) not_followed();
        if (name == "level") return text.replace(p + 1, close - p - 1, level);
        p = close + 1;
    }
    return text.insert(1 + tag.name.size(), " level=\"" + level + "\"");
}

// `xml` with `inner` put inside the element that `tag` starts (an empty
// element is opened and closed around it).
std::string put_inside(std::string xml, const xml_tag& tag, const std::string& inner) {
    if (!tag.empty) return xml.insert(tag.end, inner);
    std::size_t slash = tag.end - 2;
    while (slash > tag.start && std::isspace(static_cast<unsigned char>(xml[slash - 1]))) --slash;
    return xml.replace(slash, tag.end - slash, ">" + inner + "</" + tag.name + ">");
}

std::string with_execution_level(const std::string& xml, const std::string& level) {
    const std::vector<xml_tag> tags = scan_tags(xml);
    auto start_tag = [&](const char* local) -> const xml_tag* {
        for (const xml_tag& tag : tags)
            if (!tag.closing && tag.is(local)) return &tag;
        return nullptr;
    };
    // Set where present (from the end, so that earlier offsets stay right).
    std::string edited = xml;
    bool found = false;
    for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag) {
        if (tag->closing || !tag->is("requestedExecutionLevel")) continue;
        edited.replace(tag->start, tag->end - tag->start, with_level(edited, *tag, level));
        found = true;
    }
    if (found) return edited;
    // Otherwise added inside the innermost of its parents there is.
    const char* chain[] = {"requestedPrivileges", "security", "trustInfo"};
    for (std::size_t depth = 0; depth < 3; ++depth) {
        const xml_tag* parent = start_tag(chain[depth]);
        if (!parent) continue;
        const std::string p = parent->prefix();
        std::string inner = "<" + p + "requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>";
        for (std::size_t up = 0; up < depth; ++up)
            inner = "<" + p + chain[up] + ">" + inner + "</" + p + chain[up] + ">";
        return put_inside(xml, *parent, inner);
    }
    const xml_tag* root = tags.empty() ? nullptr : &tags.front();
    if (!root || root->closing || !root->is("assembly")) fail("the manifest's root element is not assembly");
    const std::string trust =
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"" +
        level + "\" uiAccess=\"false\"/></requestedPrivileges></security></trustInfo>";
    if (root->empty) return put_inside(xml, *root, trust);
    for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag)
        if (tag->closing && tag->name == root->name) return std::string(xml).insert(tag->start, trust);
    not_followed();
}

constexpr char small_manifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n</assembly>\n";

}  // namespace

// -- the image

const std::vector<std::string>& resource_editor::version_keys() {
    static const std::vector<std::string> keys = {
        "Comments",        "CompanyName",      "FileDescription", "FileVersion", "InternalName",   "LegalCopyright",
        "LegalTrademarks", "OriginalFilename", "PrivateBuild",    "ProductName", "ProductVersion", "SpecialBuild"};
    return keys;
}

resource_editor::version_strings resource_editor::parse_version_strings(const std::string& text) {
    version_strings strings;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(';', at), text.size());
        const std::string part = text.substr(at, end - at);
        at = end + 1;
        if (part.find_first_not_of(" \t") == std::string::npos) continue;
        const std::size_t equals = part.find('=');
        if (equals == std::string::npos) fail("version information part \"" + part + "\" is not Key=value");
        std::string key = part.substr(0, equals);
        key.erase(0, key.find_first_not_of(" \t"));
        key.erase(key.find_last_not_of(" \t") + 1);
        const auto& known = version_keys();
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            std::string list;
            for (const std::string& one : known) list += (list.empty() ? "" : ", ") + one;
            fail("unknown version information key \"" + key + "\" (known: " + list + ")");
        }
        for (const auto& given : strings)
            if (given.first == key) fail("version information key " + key + " is given twice");
        strings.emplace_back(key, part.substr(equals + 1));
    }
    return strings;
}

resource_editor::resource_editor(std::vector<std::uint8_t> image) : image_(std::move(image)) {
    read_headers();
    // Before the sections: the certificate table lies after them.
    if (directory_length(certificate_entry) != 0)
        fail("the program is signed, and its signature would not match the changed resources: sign it after packing");
    read_sections();
    read_resources();
    choose_placement();
}

void resource_editor::read_headers() {
    if (image_.size() < dos_header_size || image_[0] != 'M' || image_[1] != 'Z')
        fail("not a Windows program (no MZ header)");
    const std::size_t pe = field(image_, pe_pointer_field, 4, "");
    if (field(image_, pe, 4, "the PE header lies outside the file") != pe_signature)
        fail("not a PE image (no PE signature)");
    const std::size_t coff = pe + 4;
    const char* short_header = "the image's headers are truncated";
    const std::size_t sections = field(image_, coff + section_count_field, 2, short_header);
    const std::size_t optional_size = field(image_, coff + optional_size_field, 2, short_header);
    optional_ = coff + file_header_size;
    const std::uint32_t magic = field(image_, optional_, 2, short_header);
    if (magic != pe32_magic && magic != pe32_plus_magic) fail("not a PE32 or PE32+ image");
    plus_ = magic == pe32_plus_magic;
    const std::size_t count_field = plus_ ? pe32_plus_directory_count_field : pe32_directory_count_field;
    if (optional_size < count_field + 4 || optional_ + optional_size > image_.size())
        fail("the optional header is truncated");
    directories_ = field(image_, optional_ + count_field, 4, short_header);
    if (directories_ > (optional_size - count_field - 4) / directory_entry_size)
        fail("the data directory does not fit in the optional header");
    section_alignment_ = field(image_, optional_ + section_alignment_field, 4, short_header);
    file_alignment_ = field(image_, optional_ + file_alignment_field, 4, short_header);
    headers_size_ = field(image_, optional_ + headers_size_field, 4, short_header);
    if (!power_of_two(section_alignment_) || !power_of_two(file_alignment_) || file_alignment_ > section_alignment_)
        fail("the image's alignments are not powers of two with the file's no larger than the sections'");
    table_ = optional_ + optional_size;
    if (sections == 0 || sections > most_sections) fail("the image has " + std::to_string(sections) + " sections");
    if (headers_size_ > image_.size() || table_ + sections * section_header_size > headers_size_)
        fail("the section table lies outside the headers");
    sections_.resize(sections);
}

void resource_editor::read_sections() {
    std::uint64_t data_end = headers_size_, next_address = headers_size_;  // in memory, the headers come first
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        section& s = sections_[i];
        s.header = table_ + i * section_header_size;
        s.virtual_size = field(image_, s.header + virtual_size_field, 4, "");
        s.address = field(image_, s.header + address_field, 4, "");
        s.raw_size = field(image_, s.header + raw_size_field, 4, "");
        s.raw_pointer = field(image_, s.header + raw_pointer_field, 4, "");
        s.characteristics = field(image_, s.header + characteristics_field, 4, "");
        const std::string which = "section " + std::to_string(i + 1);
        if (s.raw_size != 0 &&
            (s.raw_pointer < headers_size_ || std::uint64_t{s.raw_pointer} + s.raw_size > image_.size()))
            fail(which + "'s data lies outside the file");
        if (s.address % section_alignment_ != 0 || s.address < next_address)
            fail(which + " is not aligned or overlaps what lies before it in memory");
        next_address = std::uint64_t{s.address} + span(s);
        if (next_address > 0xFFFFFFFFu) fail(which + " reaches past 4 GiB");
        if (s.raw_size != 0) data_end = std::max<std::uint64_t>(data_end, std::uint64_t{s.raw_pointer} + s.raw_size);
    }
    if (image_.size() > data_end)
        fail("the image is followed by data (a symbol table or an archive): change the resources of the bare stub");
}

std::uint32_t resource_editor::span(const section& s) { return s.virtual_size != 0 ? s.virtual_size : s.raw_size; }

std::uint32_t resource_editor::directory_rva(unsigned entry) const {
    if (entry >= directories_) return 0;
    return field(image_, directory_field(entry), 4, "");
}

std::uint32_t resource_editor::directory_length(unsigned entry) const {
    if (entry >= directories_) return 0;
    return field(image_, directory_field(entry) + 4, 4, "");
}

std::size_t resource_editor::directory_field(unsigned entry) const {
    const std::size_t count_field = plus_ ? pe32_plus_directory_count_field : pe32_directory_count_field;
    return optional_ + count_field + 4 + entry * directory_entry_size;
}

int resource_editor::section_of(std::uint32_t rva) const {
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (rva >= sections_[i].address && rva - sections_[i].address < span(sections_[i])) return static_cast<int>(i);
    return -1;
}

bool resource_editor::file_range(std::uint32_t rva, std::uint32_t length, std::size_t& offset) const {
    // Nothing to read lies anywhere (an empty resource may point at the end
    // of its section, where it is written).
    if (length == 0) {
        offset = 0;
        return true;
    }
    const int index = section_of(rva);
    if (index < 0) return false;
    const section& s = sections_[static_cast<std::size_t>(index)];
    const std::uint64_t inside = rva - s.address;
    if (inside + length > s.raw_size) return false;
    offset = static_cast<std::size_t>(s.raw_pointer + inside);
    return true;
}

void resource_editor::read_resources() {
    const std::uint32_t rva = directory_rva(resource_entry);
    if (rva == 0) return;
    resources_ = section_of(rva);
    if (resources_ < 0) fail("the resource directory lies outside every section");
    const section& s = sections_[static_cast<std::size_t>(resources_)];
    if (rva - s.address >= s.raw_size) fail("the resource directory lies outside its section's data");
    tree_reader tree(image_.data() + s.raw_pointer + (rva - s.address), s.raw_size - (rva - s.address));
    std::uint64_t data_total = 0;
    auto read_leaf = [&](const raw_entry& entry) {
        if (entry.target & high_bit) fail("the resource tree is deeper than type, name and language");
        leaf made{entry.key, {}, 0};
        std::uint32_t data_rva, size;
        tree.data_entry(entry.target, data_rva, size, made.code_page);
        std::size_t offset;
        if (!file_range(data_rva, size, offset)) fail("a resource's data lies outside the image");
        // Entries may share data; copies of it that add up to more than
        // the image are a tree made to exhaust memory.
        data_total += size;
        if (data_total > image_.size()) fail("the resources' data add up to more than the image");
        made.data.assign(image_.begin() + static_cast<std::ptrdiff_t>(offset),
                         image_.begin() + static_cast<std::ptrdiff_t>(offset + size));
        return made;
    };
    auto directory_of = [](const raw_entry& entry) {
        if ((entry.target & high_bit) == 0) fail("a resource lies above the language level of the tree");
        return entry.target & ~high_bit;
    };
    for (const raw_entry& type_entry : tree.directory(0, root_)) {
        type_node type{type_entry.key, {}, {}};
        for (const raw_entry& name_entry : tree.directory(directory_of(type_entry), type.info)) {
            name_node name{name_entry.key, {}, {}};
            for (const raw_entry& language : tree.directory(directory_of(name_entry), name.info))
                name.languages.push_back(read_leaf(language));
            std::stable_partition(name.languages.begin(), name.languages.end(),
                                  [](const leaf& l) { return l.language.named(); });
            type.names.push_back(std::move(name));
        }
        std::stable_partition(type.names.begin(), type.names.end(), [](const name_node& n) { return n.name.named(); });
        types_.push_back(std::move(type));
    }
    std::stable_partition(types_.begin(), types_.end(), [](const type_node& t) { return t.type.named(); });
    static_assert(tree_levels == 3, "the loops above read type, name and language");
}

// -- where the new section goes

void resource_editor::choose_placement() {
    placement_ = placement::new_section;
    if (resources_ >= 0) {
        const auto index = static_cast<std::size_t>(resources_);
        const section& r = sections_[index];
        bool in_place = directory_rva(resource_entry) == r.address && r.raw_size != 0;
        // Its data must be the last in the file, but for the sections
        // after it, which must be movable and follow in order.
        for (std::size_t i = 0; in_place && i < index; ++i)
            in_place = sections_[i].raw_size == 0 || sections_[i].raw_pointer + sections_[i].raw_size <= r.raw_pointer;
        std::uint64_t data_end = std::uint64_t{r.raw_pointer} + r.raw_size;
        for (std::size_t i = index + 1; in_place && i < sections_.size(); ++i) {
            in_place = may_move(i) && (sections_[i].raw_size == 0 || sections_[i].raw_pointer >= data_end);
            if (sections_[i].raw_size != 0) data_end = std::uint64_t{sections_[i].raw_pointer} + sections_[i].raw_size;
        }
        // Nothing may be patched by the loader or read by a debugger from
        // the bytes that change.
        in_place = in_place && !relocations_touch(r.address) && !debug_data_from(r.raw_pointer);
        if (in_place) {
            placement_ = index + 1 == sections_.size() ? placement::last_section : placement::relocations_moved;
            return;
        }
    }
}

// A new section needs a free header after the table, inside the headers,
// and the data directory an entry for the resources.
void resource_editor::check_room_for_a_section() const {
    const std::size_t slot = table_ + sections_.size() * section_header_size;
    if (sections_.size() == most_sections || slot + section_header_size > headers_size_ ||
        std::any_of(image_.begin() + static_cast<std::ptrdiff_t>(slot),
                    image_.begin() + static_cast<std::ptrdiff_t>(slot + section_header_size),
                    [](std::uint8_t b) { return b != 0; }))
        fail("the resource section cannot be rewritten in place and the headers have no room for another section");
    if (directories_ <= resource_entry) fail("the image's data directory has no resource entry");
}

// A base relocation section that nothing but its data directory entry
// names: no other entry points into it.
bool resource_editor::may_move(std::size_t index) const {
    const section& s = sections_[index];
    static constexpr char relocations[name_size] = {'.', 'r', 'e', 'l', 'o', 'c', 0, 0};
    if (!std::equal(relocations, relocations + name_size, image_.begin() + static_cast<std::ptrdiff_t>(s.header)))
        return false;
    const auto inside = [&](std::uint32_t rva) { return rva >= s.address && rva - s.address < span(s); };
    if (!inside(directory_rva(relocation_entry))) return false;
    for (unsigned entry = 0; entry < directories_; ++entry)
        if (entry != relocation_entry && entry != certificate_entry && directory_length(entry) != 0 &&
            inside(directory_rva(entry)))
            return false;
    return true;
}

// Whether a base relocation patches an address at or after `from` (in the
// resources or the sections that would move); an unreadable table counts
// as one that does.
bool resource_editor::relocations_touch(std::uint32_t from) const {
    const std::uint32_t length = directory_length(relocation_entry);
    if (directories_ <= relocation_entry || length == 0) return false;
    std::size_t at;
    if (!file_range(directory_rva(relocation_entry), length, at)) return true;
    const std::size_t end = at + length;
    while (end - at >= relocation_block_header) {
        const std::uint32_t page = field(image_, at, 4, ""), block = field(image_, at + 4, 4, "");
        if (block < relocation_block_header || block > end - at) return true;
        for (std::size_t entry = at + relocation_block_header; entry + 2 <= at + block; entry += 2) {
            const std::uint32_t value = field(image_, entry, 2, "");
            if ((value >> 12) != 0 && std::uint64_t{page} + (value & 0xFFF) >= from) return true;
        }
        at += block;
    }
    return false;
}

// Whether debug data lies in the file at or after `file_offset`.
bool resource_editor::debug_data_from(std::uint32_t file_offset) const {
    const std::uint32_t length = directory_length(debug_entry);
    if (directories_ <= debug_entry || length == 0) return false;
    std::size_t at;
    if (!file_range(directory_rva(debug_entry), length, at)) return true;
    for (std::size_t entry = at; entry + debug_entry_size <= at + length; entry += debug_entry_size)
        if (field(image_, entry + debug_size_field, 4, "") != 0 &&
            field(image_, entry + debug_pointer_field, 4, "") >= file_offset)
            return true;
    return false;
}

// -- changing the tree

resource_editor::type_node* resource_editor::find_type(std::uint16_t id) {
    for (type_node& t : types_)
        if (t.type == numbered(id)) return &t;
    return nullptr;
}

resource_editor::type_node& resource_editor::type(std::uint16_t id) {
    if (type_node* found = find_type(id)) return *found;
    insert_sorted(types_, type_node{numbered(id), {}, {}}, &type_node::type);
    return *find_type(id);
}

void resource_editor::replace_icon(const std::vector<std::uint8_t>& ico_file) {
    const std::vector<icon_image> images = read_icon_file(ico_file);
    type(icon_type);
    type(group_icon_type);
    type_node& icons = *find_type(icon_type);
    type_node& groups = *find_type(group_icon_type);

    // The group shown and loaded: its name and language stay.
    name_node group{{u"ICON", 0}, {}, {}};
    key language = numbered(us_english);
    std::vector<std::uint16_t> old_ids;
    if (!groups.names.empty()) {
        group.name = groups.names.front().name;
        group.info = groups.names.front().info;
        if (!groups.names.front().languages.empty()) language = groups.names.front().languages.front().language;
        for (const leaf& l : groups.names.front().languages)
            for (std::uint16_t id : icon_ids(l.data)) old_ids.push_back(id);
        groups.names.erase(groups.names.begin());
    }
    // Icons that another group still names stay.
    std::set<std::uint16_t> dropped(old_ids.begin(), old_ids.end());
    for (const name_node& other : groups.names)
        for (const leaf& l : other.languages)
            for (std::uint16_t id : icon_ids(l.data)) dropped.erase(id);
    icons.names.erase(std::remove_if(icons.names.begin(), icons.names.end(),
                                     [&](const name_node& n) { return !n.name.named() && dropped.count(n.name.id); }),
                      icons.names.end());

    std::set<std::uint16_t> used;
    for (const name_node& n : icons.names)
        if (!n.name.named()) used.insert(n.name.id);
    std::vector<std::uint16_t> ids;
    for (std::uint32_t id = 1; ids.size() < images.size(); ++id) {
        if (id > 0xFFFF) fail("the image has no icon ids left");
        if (!used.count(static_cast<std::uint16_t>(id))) ids.push_back(static_cast<std::uint16_t>(id));
    }
    for (std::size_t i = 0; i < images.size(); ++i)
        insert_sorted(icons.names, name_node{numbered(ids[i]), {}, {leaf{language, images[i].data, 0}}},
                      &name_node::name);
    group.languages = {leaf{language, icon_group(images, ids), 0}};
    insert_sorted(groups.names, std::move(group), &name_node::name);
}

void resource_editor::replace_version(const version_strings& strings) {
    if (strings.empty()) fail("the version block needs at least one string");
    const auto& known = version_keys();
    for (const auto& given : strings)
        if (std::find(known.begin(), known.end(), given.first) == known.end())
            fail("unknown version information key \"" + given.first + "\"");
    const std::vector<std::uint8_t> block = version_block(strings);
    type_node& versions = type(version_type);
    versions.names = {name_node{numbered(1), {}, {leaf{numbered(us_english), block, 0}}}};
}

std::string resource_editor::manifest_with_level(const std::string& manifest, execution_level level) {
    return with_execution_level(manifest,
                                level == execution_level::require_administrator ? "requireAdministrator" : "asInvoker");
}

void resource_editor::set_execution_level(execution_level level) {
    type_node& manifests = type(manifest_type);
    auto first = std::find_if(manifests.names.begin(), manifests.names.end(),
                              [](const name_node& n) { return n.name == numbered(1); });
    if (first == manifests.names.end()) {
        const std::string text = small_manifest;
        insert_sorted(manifests.names,
                      name_node{numbered(1), {}, {leaf{numbered(us_english), {text.begin(), text.end()}, 0}}},
                      &name_node::name);
        first = std::find_if(manifests.names.begin(), manifests.names.end(),
                             [](const name_node& n) { return n.name == numbered(1); });
    }
    for (leaf& l : first->languages) {
        const std::string edited = manifest_with_level(std::string(l.data.begin(), l.data.end()), level);
        l.data.assign(edited.begin(), edited.end());
    }
}

// -- writing

// The tree laid out as directory tables (breadth first: the root, the
// types' tables, the names' tables), the data entries, the names, then the
// data, each piece on an 8-byte boundary; `rva` is where it will lie.
std::vector<std::uint8_t> resource_editor::build_section(std::uint32_t rva) const {
    const auto table_size = [](std::size_t entries) { return table_header_size + entries * table_entry_size; };
    std::size_t tables = table_size(types_.size()), leaves = 0;
    for (const type_node& t : types_) {
        tables += table_size(t.names.size());
        for (const name_node& n : t.names) tables += table_size(n.languages.size()), leaves += n.languages.size();
    }
    const std::size_t entries_start = tables, names_start = tables + leaves * data_entry_size;

    byte_buffer directory, names;
    auto header = [&](const directory_info& info, std::size_t named, std::size_t all) {
        directory.put32(info.characteristics);
        directory.put32(info.time_stamp);
        directory.put16(info.major);
        directory.put16(info.minor);
        directory.put16(static_cast<std::uint32_t>(named));
        directory.put16(static_cast<std::uint32_t>(all - named));
    };
    auto name = [&](const key& k) {
        if (!k.named()) return directory.put32(k.id);
        directory.put32(high_bit | (names_start + names.bytes.size()));
        names.put16(static_cast<std::uint32_t>(k.name.size()));
        for (char16_t c : k.name) names.put16(c);
    };
    auto named_count = [](const auto& nodes, auto key_of) {
        return static_cast<std::size_t>(
            std::count_if(nodes.begin(), nodes.end(), [&](const auto& n) { return (n.*key_of).named(); }));
    };

    std::size_t next_table = table_size(types_.size());
    header(root_, named_count(types_, &type_node::type), types_.size());
    for (const type_node& t : types_) {
        name(t.type);
        directory.put32(high_bit | next_table);
        next_table += table_size(t.names.size());
    }
    for (const type_node& t : types_) {
        header(t.info, named_count(t.names, &name_node::name), t.names.size());
        for (const name_node& n : t.names) {
            name(n.name);
            directory.put32(high_bit | next_table);
            next_table += table_size(n.languages.size());
        }
    }
    std::size_t next_entry = entries_start;
    for (const type_node& t : types_) {
        for (const name_node& n : t.names) {
            header(n.info, named_count(n.languages, &leaf::language), n.languages.size());
            for (const leaf& l : n.languages) {
                name(l.language);
                directory.put32(next_entry);
                next_entry += data_entry_size;
            }
        }
    }

    // The data entries, then the names and the data.
    byte_buffer data;
    const std::size_t data_start = (names_start + names.bytes.size() + resource_data_alignment - 1) /
                                   resource_data_alignment * resource_data_alignment;
    for (const type_node& t : types_) {
        for (const name_node& n : t.names) {
            for (const leaf& l : n.languages) {
                pad(data, resource_data_alignment);
                directory.put32(std::uint64_t{rva} + data_start + data.bytes.size());
                directory.put32(l.data.size());
                directory.put32(l.code_page);
                directory.put32(0);
                data.put(l.data);
            }
        }
    }
    directory.put(names.bytes);
    pad(directory, resource_data_alignment);
    directory.put(data.bytes);
    if (directory.bytes.size() >= high_bit || std::uint64_t{rva} + directory.bytes.size() > 0xFFFFFFFFu)
        fail("the resources would be larger than 2 GiB");
    return std::move(directory.bytes);
}

std::vector<std::uint8_t> resource_editor::image() const {
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> made;
    std::uint32_t rva;
    std::int64_t initialized_growth;
    if (placement_ == placement::new_section) {
        check_room_for_a_section();
        file = image_;
        file.resize(align_up(file.size(), file_alignment_));
        const section& last = sections_.back();
        rva = align_up(std::uint64_t{last.address} + span(last), section_alignment_);
        made = build_section(rva);
        const std::uint32_t raw = align_up(made.size(), file_alignment_);
        const std::size_t header = table_ + sections_.size() * section_header_size;
        std::copy_n(".rsrc\0\0", name_size, file.begin() + static_cast<std::ptrdiff_t>(header));
        set(file, header + virtual_size_field, made.size(), 4);
        set(file, header + address_field, rva, 4);
        set(file, header + raw_size_field, raw, 4);
        set(file, header + raw_pointer_field, file.size(), 4);
        set(file, header + characteristics_field, initialized_data | readable, 4);
        set(file, optional_ - file_header_size + section_count_field, sections_.size() + 1, 2);
        file.insert(file.end(), made.begin(), made.end());
        file.resize(file.size() - made.size() + raw);
        initialized_growth = raw;
    } else {
        const auto index = static_cast<std::size_t>(resources_);
        const section& r = sections_[index];
        rva = r.address;
        made = build_section(rva);
        const std::uint32_t raw = align_up(made.size(), file_alignment_);
        // (Its data may start off the file alignment; its size is aligned.)
        file.assign(image_.begin(), image_.begin() + r.raw_pointer);
        file.insert(file.end(), made.begin(), made.end());
        file.resize(std::size_t{r.raw_pointer} + raw);
        set(file, r.header + virtual_size_field, made.size(), 4);
        set(file, r.header + raw_size_field, raw, 4);
        initialized_growth = (r.characteristics & initialized_data) ? std::int64_t{raw} - r.raw_size : 0;
        // The relocation sections behind it, moved up with their entry.
        std::uint32_t next = align_up(std::uint64_t{rva} + made.size(), section_alignment_);
        for (std::size_t i = index + 1; i < sections_.size(); ++i) {
            const section& s = sections_[i];
            if (s.raw_size != 0) file.resize(align_up(file.size(), file_alignment_));
            set(file, s.header + address_field, next, 4);
            set(file, s.header + raw_pointer_field, s.raw_size ? file.size() : 0, 4);
            file.insert(file.end(), image_.begin() + s.raw_pointer, image_.begin() + s.raw_pointer + s.raw_size);
            const std::uint32_t entry = directory_rva(relocation_entry);
            if (entry >= s.address && entry - s.address < span(s))
                set(file, directory_field(relocation_entry), entry - s.address + next, 4);
            next = align_up(std::uint64_t{next} + span(s), section_alignment_);
        }
    }

    set(file, directory_field(resource_entry), rva, 4);
    set(file, directory_field(resource_entry) + 4, made.size(), 4);
    set(file, optional_ + image_size_field, image_end_address(file), 4);
    const std::int64_t initialized =
        std::int64_t{field(file, optional_ + initialized_size_field, 4, "")} + initialized_growth;
    set(file, optional_ + initialized_size_field,
        static_cast<std::uint64_t>(std::clamp<std::int64_t>(initialized, 0, 0xFFFFFFFF)), 4);
    set(file, optional_ + checksum_field, checksum(file, optional_ + checksum_field), 4);
    return file;
}

// SizeOfImage: the end of the last section in memory, aligned.
std::uint32_t resource_editor::image_end_address(const std::vector<std::uint8_t>& file) const {
    const std::size_t count = field(file, optional_ - file_header_size + section_count_field, 2, "");
    std::uint64_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t header = table_ + i * section_header_size;
        const std::uint32_t virtual_size = field(file, header + virtual_size_field, 4, "");
        const std::uint32_t raw_size = field(file, header + raw_size_field, 4, "");
        end = std::max<std::uint64_t>(
            end, std::uint64_t{field(file, header + address_field, 4, "")} + (virtual_size ? virtual_size : raw_size));
    }
    return align_up(end, section_alignment_);
}

// The 16-bit words of the file added with their carries folded back in,
// the checksum field left out, plus the file's length.
std::uint32_t resource_editor::checksum(const std::vector<std::uint8_t>& file, std::size_t checksum_field) {
    const auto byte = [&](std::size_t at) -> std::uint32_t {
        const bool in_field = at >= checksum_field && at - checksum_field < 4;
        return at < file.size() && !in_field ? file[at] : 0;
    };
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < file.size(); at += 2) {
        sum += byte(at) | byte(at + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);  // at most 0xFFFF again
    }
    return static_cast<std::uint32_t>(sum + file.size());
}

}  // namespace quillon::pack
