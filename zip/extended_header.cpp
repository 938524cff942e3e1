#include "zip/extended_header.h"

#include <cstring>

#include "errors/exception.h"
#include "stream/endian_input.h"
#include "stream/safe_input.h"

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

namespace {

std::uint64_t le_at(const std::uint8_t* bytes, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = size; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

}  // namespace

std::uint32_t extended_header::read_after(stream::input& input, std::uint64_t compressed, std::uint64_t uncompressed,
                                          bool zip64) {
    const unsigned field = zip64 ? 8 : 4;
    const std::uint32_t bare = 4 + 2 * field;  // CRC and the two sizes
    std::uint8_t bytes[4 + 4 + 2 * 8];
    {
        stream::safe_input safe(input);
        safe.read(bytes, bare);
    }
    std::memcpy(signature.bytes, bytes, 4);
    if (valid()) {
        // With the signature the sizes are the third and fourth fields,
        // without it the second and third; a signature whose sizes fit
        // neither form is taken as one.
        const std::uint32_t more = read_fully(input, bytes + bare, 4);
        const std::uint64_t mask = zip64 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
        const bool signed_fits = more == 4 && le_at(bytes + 8, field) == (compressed & mask) &&
                                 le_at(bytes + 8 + field, field) == (uncompressed & mask);
        const bool bare_fits =
            le_at(bytes + 4, field) == (compressed & mask) && le_at(bytes + 4 + field, field) == (uncompressed & mask);
        if (more == 4 && (signed_fits || !bare_fits)) {
            crc = static_cast<std::uint32_t>(le_at(bytes + 4, 4));
            compressed_size = le_at(bytes + 8, field);
            uncompressed_size = le_at(bytes + 8 + field, field);
            return bare + 4;
        }
        if (more > 0) input.unread(bytes + bare, more);
    }
    signature = {};
    crc = static_cast<std::uint32_t>(le_at(bytes, 4));
    compressed_size = le_at(bytes + 4, field);
    uncompressed_size = le_at(bytes + 4 + field, field);
    return bare;
}

}  // namespace format::zip
