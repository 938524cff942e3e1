#include "stream/safe_input.h"

#include "errors/exception.h"

namespace stream {

void safe_input::raise_end() { throw stream::exception("unexpected end of file", "stream::safe_input"); }

// A source may deliver fewer bytes than asked before its end: only a read
// that delivers nothing is the end.
std::uint32_t safe_input::do_read(void* buffer, std::uint32_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t got = 0;
    while (got < length) {
        const std::uint32_t more = source()->read(bytes + got, length - got);
        if (more == 0) raise_end();
        got += more;
    }
    return got;
}

int safe_input::do_get() {
    int byte = source()->get();
    if (byte < 0) raise_end();
    return byte;
}

size_type safe_input::do_skip(size_type count) {
    size_type got = 0;
    while (got < count) {
        const size_type more = source()->skip(count - got);
        if (more == 0) raise_end();
        got += more;
    }
    return got;
}

}  // namespace stream
