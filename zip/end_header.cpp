#include "zip/end_header.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "errors/exception.h"
#include "stream/endian_input.h"

namespace format::zip {

namespace {

constexpr records::signature_bytes expected = records::bytes_of(records::end_signature);

}  // namespace

bool end_header::valid() const { return signature_is(signature, records::end_signature); }

std::uint32_t end_header::read(stream::input& input, bool strict) {
    read_signature(input, signature);
    if (strict && !valid()) throw format::exception("bad header artfact", "format::zip::end_header");
    stream::little_endian_input fields(input);
    this_disk = static_cast<std::uint16_t>(fields.read_u16());
    directory_disk = static_cast<std::uint16_t>(fields.read_u16());
    disk_entries = static_cast<std::uint16_t>(fields.read_u16());
    total_entries = static_cast<std::uint16_t>(fields.read_u16());
    directory_size = fields.read_u32();
    directory_offset = fields.read_u32();
    const std::uint32_t length = fields.read_u16();
    // Bytes missing at the end of the file count as 0xFF, as the end of the
    // input (-1) does when the comment is fetched byte by byte.
    comment.assign(length, '\xFF');
    read_fully(input, reinterpret_cast<std::uint8_t*>(comment.data()), length);
    return size();
}

stream::size_type end_header::locate(stream::random::input& input, stream::size_type begin, stream::size_type end) {
    const stream::size_type s = end == not_found ? input.size() : std::min(end, input.size());
    if (s < begin || s - begin < fixed_size) return not_found;

    // A file without an archive comment ends with the record.
    input.seek(s - fixed_size);
    read(input, false);
    if (valid() && comment.empty()) return s - fixed_size;

    const auto n = static_cast<std::uint32_t>(std::min<stream::size_type>(largest_size, s - begin));
    std::vector<std::uint8_t> window(n);
    input.seek(s - n);
    read_fully(input, window.data(), n);

    stream::size_type last_signature = not_found;
    for (std::uint32_t i = n - fixed_size + 1; i-- > 0;) {
        if (std::memcmp(window.data() + i, expected.bytes, sizeof expected.bytes) != 0) continue;
        if (last_signature == not_found) last_signature = (s - n) + i;
        // A comment that itself holds a record is not taken for the archive's
        // own end: the real record's comment reaches exactly the end of the
        // file.
        const std::uint8_t* length_field = window.data() + i + records::end::comment_length;
        const std::uint32_t length = length_field[0] | std::uint32_t(length_field[1]) << 8;
        if (i + fixed_size + length == n) return (s - n) + i;
    }
    return last_signature;
}

std::vector<stream::size_type> end_header::signatures(stream::random::input& input, stream::size_type begin,
                                                      stream::size_type end) {
    std::vector<stream::size_type> found;
    const stream::size_type s = end == not_found ? input.size() : std::min(end, input.size());
    if (s < begin || s - begin < fixed_size) return found;
    const auto n = static_cast<std::uint32_t>(std::min<stream::size_type>(largest_size, s - begin));
    std::vector<std::uint8_t> window(n);
    input.seek(s - n);
    read_fully(input, window.data(), n);
    for (std::uint32_t i = n - fixed_size + 1; i-- > 0;)
        if (std::memcmp(window.data() + i, expected.bytes, sizeof expected.bytes) == 0) found.push_back((s - n) + i);
    return found;
}

}  // namespace format::zip
