// Rewrites the resources of a Windows program before an archive is appended
// to it: the icon, the version block and the execution level its manifest
// asks for, so that a self-extractor carries its maker's name and icon.
//
// The program is a PE32 or PE32+ image held in memory. Every offset and size
// its headers and its resource tree give is checked against the buffer; a
// damaged image, .ico file or value ends in format::exception, never in a
// read outside the buffer. Resources that are not changed keep their bytes,
// their names and their languages.
//
// Where the rebuilt resource section goes (`placement`):
// - at the old one's place when the old one is the last section, or when
//   only base relocation sections (.reloc) follow it: those are moved up
//   behind the new section and their data directory entry follows them
//   (relocation blocks hold the RVAs of the places they patch, never their
//   own, so they are the same bytes wherever they lie). The linkers the
//   stubs are built with put .rsrc right before .reloc, so this is the case
//   of every stub;
//   Either needs the old section's data last in the file, no base
//   relocation patching an address from it on, and no debug data after it;
// - otherwise in a new last section, the old one kept as it is but no
//   longer named by the resource data directory entry: nothing that code or
//   data may point at moves.
// The section's raw and virtual sizes, SizeOfImage, SizeOfInitializedData,
// the resource data directory entry and the checksum are written anew (the
// checksum is the image's: appending an archive changes the file, which only
// matters to the loader for drivers; `checksum` serves to write it again).
//
// A signed image is refused: its certificate would no longer match (sign
// the program after packing). Data after the last section (a symbol table,
// an archive already appended) is refused too: it would be lost or moved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quillon::pack {

class resource_editor {
public:
    // The resource types it changes (RT_ICON, RT_GROUP_ICON, RT_VERSION,
    // RT_MANIFEST).
    static constexpr std::uint16_t icon_type = 3, group_icon_type = 14, version_type = 16, manifest_type = 24;

    // A resource's type, name or language: a number, or a name when `name`
    // is not empty.
    struct key {
        std::u16string name;
        std::uint16_t id = 0;

        bool named() const { return !name.empty(); }
        friend bool operator==(const key& a, const key& b) { return a.name == b.name && a.id == b.id; }
    };

    // Version block strings, in the order they are written: ("ProductName",
    // "Photo Viewer"), ... UTF-8.
    using version_strings = std::vector<std::pair<std::string, std::string>>;

    // The keys a version block may have.
    static const std::vector<std::string>& version_keys();
    // "Key=value;Key=value" as --version-info takes it: empty parts are
    // skipped; a part without "=", an unknown or a repeated key is refused.
    static version_strings parse_version_strings(const std::string& text);

    enum class execution_level { as_invoker, require_administrator };

    // Where the rebuilt resource section goes: where the old one was, the
    // last section; where the old one was, the relocation sections behind
    // it moved up; a new last section.
    enum class placement { last_section, relocations_moved, new_section };

    // The resource tree: types, their names, the names' languages.
    struct directory_info {
        std::uint32_t characteristics = 0, time_stamp = 0;
        std::uint16_t major = 0, minor = 0;
    };
    struct leaf {
        key language;
        std::vector<std::uint8_t> data;
        std::uint32_t code_page = 0;
    };
    struct name_node {
        key name;
        directory_info info;
        std::vector<leaf> languages;
    };
    struct type_node {
        key type;
        directory_info info;
        std::vector<name_node> names;
    };

    // Parses the image's headers and its resource tree. Throws
    // format::exception for a damaged or signed image.
    explicit resource_editor(std::vector<std::uint8_t> image);

    // Replaces the icon group the program shows (its first RT_GROUP_ICON
    // entry, "ICON" in the stub, which loads it by that name) with the
    // images of `ico_file`, one RT_ICON entry each under ids no other icon
    // uses, in the group's language; the icons only the old group used are
    // removed. An image without a group gets one named ICON. Throws
    // format::exception when `ico_file` is not an icon file of 1 or more
    // PNG or bitmap images.
    void replace_icon(const std::vector<std::uint8_t>& ico_file);

    // Replaces every version block with one (id 1, US English): its fixed
    // part has the numbers of FileVersion and ProductVersion ("1.2.3.4";
    // fewer parts are padded with 0; when only one is given, it counts for
    // both), its string table (language 0409, code page 04B0, UTF-16) the
    // strings given. Throws format::exception for an unknown key, a version
    // that is not 1 to 4 numbers up to 65535, or a value that is not UTF-8.
    void replace_version(const version_strings& strings);

    // Sets requestedExecutionLevel in every manifest of id 1 (the one the
    // system reads when the program starts), adding the elements around it
    // that are missing; the rest of the manifest keeps its bytes. An image
    // without a manifest gets a small one. Throws format::exception when a
    // manifest is not XML the editor can follow.
    void set_execution_level(execution_level level);

    // `manifest` with requestedExecutionLevel set to `level` as above.
    static std::string manifest_with_level(const std::string& manifest, execution_level level);

    // Where the new resource section goes (see above).
    placement where() const { return placement_; }

    // The rewritten image. Throws format::exception when it needs a new
    // section and the headers have no room for its header.
    std::vector<std::uint8_t> image() const;

    // The PE checksum of `file`, whose checksum field (4 bytes at
    // `checksum_field`) counts as zero.
    static std::uint32_t checksum(const std::vector<std::uint8_t>& file, std::size_t checksum_field);

    // The tree as it will be written: in each directory the named entries
    // first, then the numbered ones.
    const std::vector<type_node>& types() const { return types_; }

private:
    struct section {
        std::size_t header = 0;  // file offset of its section header
        std::uint32_t virtual_size = 0, address = 0, raw_size = 0, raw_pointer = 0, characteristics = 0;
    };

    void read_headers();
    void read_sections();
    void read_resources();
    void choose_placement();
    void check_room_for_a_section() const;
    bool may_move(std::size_t index) const;
    bool relocations_touch(std::uint32_t from) const;
    bool debug_data_from(std::uint32_t file_offset) const;

    // The size of a section in memory.
    static std::uint32_t span(const section& s);
    // The section whose memory holds `rva`, -1 when none does.
    int section_of(std::uint32_t rva) const;
    // The file offset of `length` bytes at `rva`: false when they are not
    // all in one section's data.
    bool file_range(std::uint32_t rva, std::uint32_t length, std::size_t& offset) const;
    // A data directory entry: the file offset of its field, its RVA, its
    // size (0 for entries past NumberOfRvaAndSizes).
    std::size_t directory_field(unsigned entry) const;
    std::uint32_t directory_rva(unsigned entry) const;
    std::uint32_t directory_length(unsigned entry) const;

    type_node& type(std::uint16_t id);
    type_node* find_type(std::uint16_t id);

    std::vector<std::uint8_t> build_section(std::uint32_t rva) const;
    std::uint32_t image_end_address(const std::vector<std::uint8_t>& file) const;

    std::vector<std::uint8_t> image_;
    bool plus_ = false;
    std::size_t optional_ = 0;       // file offset of the optional header
    std::size_t table_ = 0;          // file offset of the section table
    std::uint32_t directories_ = 0;  // NumberOfRvaAndSizes
    std::uint32_t section_alignment_ = 0, file_alignment_ = 0, headers_size_ = 0;
    std::vector<section> sections_;
    int resources_ = -1;  // the section that holds the resource tree, -1 when none
    placement placement_ = placement::new_section;

    directory_info root_;
    std::vector<type_node> types_;
};

}  // namespace quillon::pack
