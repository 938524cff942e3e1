#include "zip/encryption_header.h"

#include <cstring>

#include "errors/exception.h"
#include "zip/decrypting_input.h"

namespace format::zip {

bool encryption_header::valid() const { return !enabled || header_bytes[11] == check_byte; }

std::uint32_t encryption_header::read(stream::input& input, bool strict) {
    stream::decrypting_input plain(input, *cipher_);
    // A file that ends inside the header leaves zeros, never the bytes of an
    // earlier entry.
    std::memset(header_bytes, 0, sizeof header_bytes);
    for (std::uint32_t got = 0; got < sizeof header_bytes;) {
        const std::uint32_t more = plain.read(header_bytes + got, sizeof header_bytes - got);
        if (more == 0) break;
        got += more;
    }
    if (strict && !valid()) throw format::passphrase_exception("bad passphrase", "format::zip::encryption_header");
    return size();
}

}  // namespace format::zip
