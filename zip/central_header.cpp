#include "zip/central_header.h"

#include "errors/exception.h"
#include "stream/endian_input.h"

namespace format::zip {

bool central_header::valid() const { return signature_is(signature, records::central_signature); }

std::uint32_t central_header::unix_mode() const {
    if (version_made_by >> 8 != records::unix_host) return 0;
    return external_attributes >> 16;
}

bool central_header::is_link() const {
    return (unix_mode() & records::unix_type_bits) == records::unix_link && !fields.is_directory;
}

std::uint32_t central_header::read(stream::input& input, bool strict) {
    const stream::size_type start = input.position();
    read_signature(input, signature);
    if (strict && !valid()) throw format::exception("bad header artfact", "format::zip::central_header");
    stream::little_endian_input numbers(input);
    version_made_by = static_cast<std::uint16_t>(numbers.read_u16());
    fields.read_fixed(input);
    const std::uint32_t name_length = numbers.read_u16();
    const std::uint32_t extra_length = numbers.read_u16();
    const std::uint32_t comment_length = numbers.read_u16();
    disk_number_start = numbers.read_u16();
    internal_attributes = static_cast<std::uint16_t>(numbers.read_u16());
    external_attributes = numbers.read_u32();
    local_header_offset = numbers.read_u32();
    const std::string name_bytes = read_string(input, name_length, name_length, strict);
    fields.extra = read_string(input, extra_length, extra_length, strict);
    comment = read_string(input, comment_length, comment_length, strict);
    fields.set_name(name_bytes);
    fields.read_zip64(&local_header_offset, &disk_number_start, "format::zip::central_header");
    fields.read_aes("format::zip::central_header");
    fields.read_exact_time();
    return static_cast<std::uint32_t>(input.position() - start);
}

}  // namespace format::zip
