#include "packer/zip_append.h"

#include <vector>

#include "packer/mapped_file.h"

namespace quillon::pack {

namespace {

constexpr std::uint32_t central_signature = 0x02014b50;
constexpr std::uint32_t end_signature = 0x06054b50;
constexpr std::uint32_t zip64_locator_signature = 0x07064b50;
constexpr std::size_t end_size = 22;
constexpr std::size_t central_size = 46;
constexpr std::size_t max_comment = 0xFFFF;

std::uint32_t u16(const std::uint8_t* p) { return p[0] | p[1] << 8; }
std::uint32_t u32(const std::uint8_t* p) { return u16(p) | std::uint32_t(u16(p + 2)) << 16; }
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The end record: the last one whose comment reaches exactly the end of the
// file, else the last signature found.
std::uint64_t find_end(const mapped_file& zip) {
    const std::uint64_t size = zip.size();
    if (size < end_size) return size;
    const std::uint64_t lowest = size > end_size + max_comment ? size - end_size - max_comment : 0;
    std::uint64_t fallback = size;
    for (std::uint64_t at = size - end_size + 1; at-- > lowest;) {
        if (u32(zip.data() + at) != end_signature) continue;
        if (at + end_size + u16(zip.data() + at + 20) == size) return at;
        if (fallback == size) fallback = at;
    }
    return fallback;
}

}  // namespace

void append_zip(output_file& out, const std::string& zip_path) {
    mapped_file zip(zip_path);
    const std::uint8_t* data = zip.data();
    const std::uint64_t end = find_end(zip);
    const std::string not_zip = "\"" + zip_path + "\" is not a Zip archive";
    if (end == zip.size()) throw failure{not_zip + " (no end of central directory record)"};

    const std::uint8_t* record = data + end;
    const std::uint32_t entries = u16(record + 10), directory_size = u32(record + 12);
    const std::uint32_t directory_offset = u32(record + 16);
    if (u16(record + 4) != 0 || u16(record + 6) != 0 || u16(record + 8) != entries)
        throw failure{"\"" + zip_path + "\" spans several disks, which the stub cannot read"};
    if (entries == 0xFFFF || directory_size == 0xFFFFFFFF || directory_offset == 0xFFFFFFFF ||
        (end >= 20 && u32(data + end - 20) == zip64_locator_signature))
        throw failure{"\"" + zip_path + "\" is a Zip64 archive, which the stub cannot read"};
    if (directory_size > end) throw failure{not_zip + " (the central directory overlaps the end record)"};

    // Bytes in front of the archive that its offsets do not count (a stub
    // of its own, for instance) are kept and counted from now on.
    const std::uint64_t directory_start = end - directory_size;
    if (directory_offset > directory_start) throw failure{not_zip + " (bad central directory offset)"};
    const std::uint64_t shift = out.position() + (directory_start - directory_offset);

    std::vector<std::uint8_t> directory(data + directory_start, data + end);
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (at + central_size > directory.size() || u32(&directory[at]) != central_signature)
            throw failure{not_zip + " (damaged central directory)"};
        std::uint8_t* central = &directory[at];
        const std::uint64_t local = u32(central + 42) + shift;
        if (u32(central + 20) == 0xFFFFFFFF || u32(central + 24) == 0xFFFFFFFF || u32(central + 42) == 0xFFFFFFFF)
            throw failure{"\"" + zip_path + "\" is a Zip64 archive, which the stub cannot read"};
        if (local > 0xFFFFFFFFu) throw failure{"the output would reach 4 GiB: the stub reads no Zip64 archives"};
        put32(central + 42, static_cast<std::uint32_t>(local));
        at += central_size + u16(central + 28) + u16(central + 30) + u16(central + 32);
    }
    if (at != directory.size()) throw failure{not_zip + " (damaged central directory)"};

    std::vector<std::uint8_t> tail(data + end, data + zip.size());
    const std::uint64_t new_offset = directory_offset + shift;
    if (new_offset > 0xFFFFFFFFu) throw failure{"the output would reach 4 GiB: the stub reads no Zip64 archives"};
    put32(&tail[16], static_cast<std::uint32_t>(new_offset));

    out.write(data, directory_start);
    out.write(directory.data(), directory.size());
    out.write(tail.data(), tail.size());
}

}  // namespace quillon::pack
