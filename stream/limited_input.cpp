#include "stream/limited_input.h"

#include <algorithm>

namespace stream {

int limited_input::do_get() {
    if (left() == 0) return -1;
    int byte = source()->get();
    if (byte >= 0) ++consumed_;
    return byte;
}

std::uint32_t limited_input::do_read(void* buffer, std::uint32_t length) {
    std::uint32_t m = static_cast<std::uint32_t>(std::min<size_type>(left(), length));
    if (m == 0) return 0;
    std::uint32_t got = source()->read(buffer, m);
    consumed_ += got;
    return got;
}

size_type limited_input::do_skip(size_type count) {
    size_type m = std::min(left(), count);
    if (m == 0) return 0;
    size_type skipped = source()->skip(m);
    consumed_ += skipped;
    return skipped;
}

void limited_input::unread(const void* bytes, std::uint32_t length) {
    source()->unread(bytes, length);
    consumed_ -= length;
}

void limited_input::unget(int byte) {
    source()->unget(byte);
    consumed_ -= 1;
}

}  // namespace stream
