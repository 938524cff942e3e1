#include "zip/extended_header.h"

#include "errors/exception.h"
#include "stream/endian_input.h"

namespace format::zip {

bool extended_header::valid() const { return signature_is(signature, records::descriptor_signature); }

std::uint32_t extended_header::read(stream::input& input, bool strict) {
    read_signature(input, signature);
    if (strict && !valid()) throw format::exception("bad header artfact", "format::zip::extended_header");
    stream::little_endian_input fields(input);
    crc = fields.read_u32();
    compressed_size = fields.read_u32();
    uncompressed_size = fields.read_u32();
    return size();
}

}  // namespace format::zip
