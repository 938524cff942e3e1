#include "stream/safe_input.h"

#include "errors/exception.h"

namespace stream {

void safe_input::raise_end() { throw stream::exception("unexpected end of file", "stream::safe_input"); }

std::uint32_t safe_input::do_read(void* buffer, std::uint32_t length) {
    std::uint32_t got = source()->read(buffer, length);
    if (got < length) raise_end();
    return got;
}

int safe_input::do_get() {
    int byte = source()->get();
    if (byte < 0) raise_end();
    return byte;
}

size_type safe_input::do_skip(size_type count) {
    size_type got = source()->skip(count);
    if (got < count) raise_end();
    return got;
}

}  // namespace stream
