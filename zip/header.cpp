#include "zip/header.h"

#include <cstring>

#include "errors/exception.h"

namespace format {

std::uint32_t header::read_fully(stream::input& input, std::uint8_t* buffer, std::uint32_t length) {
    std::uint32_t total = 0;
    while (total < length) {
        std::uint32_t got = input.read(buffer + total, length - total);
        if (got == 0) break;
        total += got;
    }
    return total;
}

std::string header::read_string(stream::input& input, std::uint32_t count, std::uint32_t length, bool strict) {
    if (count > length) {
        if (strict) throw format::exception("name is too long", "format::header");
        count = length;
    }
    std::string bytes(count, '\0');
    std::uint32_t got = read_fully(input, reinterpret_cast<std::uint8_t*>(bytes.data()), count);
    if (strict && got < count) throw format::exception("input stream is too short", "format::header");
    if (count < length) input.skip(length - count);
    return bytes;
}

void header::read_signature(stream::input& input, zip::records::signature_bytes& signature) {
    signature = {};
    read_fully(input, signature.bytes, sizeof signature.bytes);
}

bool header::signature_is(const zip::records::signature_bytes& signature, std::uint32_t expected) {
    return std::memcmp(signature.bytes, zip::records::bytes_of(expected).bytes, sizeof signature.bytes) == 0;
}

}  // namespace format
