// A PE reader of the tests' own, written apart from the resource editor so
// that the editor's output is judged by other code than its own: headers,
// the section table, data directory entries, the resource tree as a map
// from "type/name/language" to bytes, the checksum, and version blocks as
// trees of nodes. It trusts the images it is given (the editor's output
// and real stubs) only as far as std::runtime_error on a short read.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe_test {

using bytes = std::vector<std::uint8_t>;

inline std::uint32_t get(const bytes& b, std::size_t at, unsigned size) {
    if (at > b.size() || size > b.size() - at) throw std::runtime_error("read past the end");
    std::uint32_t value = 0;
    for (unsigned i = size; i-- > 0;) value = value << 8 | b[at + i];
    return value;
}
inline void put(bytes& b, std::size_t at, std::uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) b.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

struct section {
    std::string name;
    std::size_t header;
    std::uint32_t virtual_size, address, raw_size, raw_pointer, characteristics;
};

struct pe_file {
    bytes file;
    bool plus = false;
    std::size_t optional = 0;
    std::vector<section> sections;
    // "type/name/language", numbers in decimal, names as ASCII.
    std::map<std::string, bytes> resources;

    std::uint32_t optional_field(std::size_t at, unsigned size = 4) const { return get(file, optional + at, size); }
    std::size_t directory_field(unsigned entry) const { return optional + (plus ? 112 : 96) + 8 * entry; }
    std::uint32_t directory_rva(unsigned entry) const { return get(file, directory_field(entry), 4); }
    std::uint32_t directory_size(unsigned entry) const { return get(file, directory_field(entry) + 4, 4); }
    std::uint32_t section_alignment() const { return optional_field(32); }
    std::uint32_t file_alignment() const { return optional_field(36); }

    // The file offset of an RVA inside some section's data.
    std::size_t offset_of(std::uint32_t rva) const {
        for (const section& s : sections)
            if (rva >= s.address && rva < s.address + s.raw_size) return s.raw_pointer + (rva - s.address);
        throw std::runtime_error("RVA outside every section's data");
    }
    bytes at_rva(std::uint32_t rva, std::uint32_t size) const {
        const std::size_t at = offset_of(rva);
        if (at + size > file.size()) throw std::runtime_error("data past the end");
        return bytes(file.begin() + static_cast<std::ptrdiff_t>(at),
                     file.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
};

inline std::string entry_key(const bytes& tree, std::uint32_t name) {
    if ((name & 0x80000000u) == 0) return std::to_string(name);
    const std::size_t at = name & 0x7FFFFFFFu;
    std::string text;
    for (std::uint32_t i = 0, n = get(tree, at, 2); i < n; ++i) text += static_cast<char>(get(tree, at + 2 + 2 * i, 2));
    return text;
}

// Reads one directory and what is below it. Its entries must be in the
// order the system's binary search expects: the named ones first (as many
// as the table says), by name, then the numbered ones by number.
inline void read_tree(pe_file& pe, const bytes& tree, std::size_t at, int level, const std::string& path) {
    const std::uint32_t named = get(tree, at + 12, 2), count = named + get(tree, at + 14, 2);
    std::string last_name;
    std::uint32_t last_id = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = at + 16 + 8 * i;
        const std::uint32_t name = get(tree, entry, 4);
        const std::string key = path + (path.empty() ? "" : "/") + entry_key(tree, name);
        if (((name & 0x80000000u) != 0) != (i < named)) throw std::runtime_error(key + ": named and numbered mixed");
        if (i < named && i > 0 && entry_key(tree, name) <= last_name) throw std::runtime_error(key + ": out of order");
        if (i > named && name <= last_id) throw std::runtime_error(key + ": out of order");
        last_name = entry_key(tree, name), last_id = name;
        const std::uint32_t target = get(tree, entry + 4, 4);
        if (level < 2) {
            if ((target & 0x80000000u) == 0) throw std::runtime_error("a leaf above the language level");
            read_tree(pe, tree, target & 0x7FFFFFFFu, level + 1, key);
        } else {
            if (target & 0x80000000u) throw std::runtime_error("a directory at the language level");
            pe.resources[key] = pe.at_rva(get(tree, target, 4), get(tree, target + 4, 4));
        }
    }
}

inline pe_file read_pe(const bytes& file) {
    pe_file pe;
    pe.file = file;
    const std::size_t header = get(file, 0x3C, 4);
    if (get(file, header, 4) != 0x4550) throw std::runtime_error("no PE signature");
    const std::uint32_t count = get(file, header + 6, 2);
    pe.optional = header + 24;
    pe.plus = get(file, pe.optional, 2) == 0x20B;
    const std::size_t table = pe.optional + get(file, header + 20, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = table + 40 * i;
        std::string name(reinterpret_cast<const char*>(file.data() + at), 8);
        name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
        pe.sections.push_back({name, at, get(file, at + 8, 4), get(file, at + 12, 4), get(file, at + 16, 4),
                               get(file, at + 20, 4), get(file, at + 36, 4)});
    }
    if (pe.directory_rva(2) != 0) {
        const bytes tree = pe.at_rva(pe.directory_rva(2), pe.directory_size(2));
        read_tree(pe, tree, 0, 0, "");
    }
    return pe;
}

// The standard PE checksum: 16-bit sums with the carries folded back in,
// the checksum field counted as zero, plus the file's length.
inline std::uint32_t checksum(const pe_file& pe) {
    bytes copy = pe.file;
    put(copy, pe.optional + 64, 0, 4);
    if (copy.size() % 2) copy.push_back(0);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < copy.size(); i += 2) {
        sum += copy[i] | copy[i + 1] << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<std::uint32_t>(pe.file.size());
}

// A node of a version block, its lengths checked against its parent's as
// it is read: each node on a 32-bit boundary, the key ended by a zero, the
// value and the children inside the node's length.
struct version_node {
    std::u16string key;
    std::uint32_t type = 0, value_length = 0;
    bytes value;
    std::vector<version_node> children;

    const version_node* child(const std::u16string& name) const {
        for (const version_node& c : children)
            if (c.key == name) return &c;
        return nullptr;
    }
    std::u16string text() const {
        std::u16string t;
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) t += static_cast<char16_t>(value[i] | value[i + 1] << 8);
        if (t.empty() || t.back() != 0) throw std::runtime_error("a version string without its zero");
        t.pop_back();
        return t;
    }
};

inline version_node read_version(const bytes& block, std::size_t at, std::size_t end) {
    if (at % 4 != 0) throw std::runtime_error("a version node off its 32-bit boundary");
    version_node node;
    const std::size_t length = get(block, at, 2);
    if (length < 6 || at + length > end) throw std::runtime_error("a version node longer than its parent");
    node.value_length = get(block, at + 2, 2);
    node.type = get(block, at + 4, 2);
    std::size_t p = at + 6;
    for (char16_t c; (c = static_cast<char16_t>(get(block, p, 2))) != 0; p += 2) node.key += c;
    p = (p + 2 + 3) / 4 * 4;
    const std::size_t value_size = node.type == 1 ? node.value_length * 2 : node.value_length;
    if (p + value_size > at + length) throw std::runtime_error("a version value past its node");
    node.value.assign(block.begin() + static_cast<std::ptrdiff_t>(p),
                      block.begin() + static_cast<std::ptrdiff_t>(p + value_size));
    for (p = (p + value_size + 3) / 4 * 4; p < at + length; p = (p + get(block, p, 2) + 3) / 4 * 4)
        node.children.push_back(read_version(block, p, at + length));
    return node;
}

}  // namespace pe_test
