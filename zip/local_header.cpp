#include "zip/local_header.h"

#include "errors/exception.h"
#include "stream/endian_input.h"

namespace format::zip {

bool local_header::valid() const {
    return signature_is(signature, records::local_signature) && known_method(fields.method) && readable_version(fields);
}

std::uint32_t local_header::read(stream::input& input, bool strict) {
    const stream::size_type start = input.position();
    read_signature(input, signature);
    if (strict && !signature_is(signature, records::local_signature))
        throw format::exception("bad header artfact", "format::zip::local_header");
    fields.read_fixed(input);
    stream::little_endian_input numbers(input);
    const std::uint32_t name_length = numbers.read_u16();
    const std::uint32_t extra_length = numbers.read_u16();
    const std::string name_bytes = read_string(input, name_length, name_length, strict);
    fields.extra = read_string(input, extra_length, extra_length, strict);
    fields.set_name(name_bytes);
    fields.read_zip64(nullptr, nullptr, "format::zip::local_header");
    fields.read_aes("format::zip::local_header");
    fields.read_exact_time();
    return static_cast<std::uint32_t>(input.position() - start);
}

}  // namespace format::zip
