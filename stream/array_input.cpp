#include "stream/array_input.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"

namespace stream {

std::uint32_t array_input::do_read(void* buffer, std::uint32_t length) {
    std::uint32_t n = std::min(length, length_ - std::min(index_, length_));
    if (n) std::memcpy(buffer, data_ + index_, n);
    index_ += n;
    return n;
}

size_type array_input::do_skip(size_type count) {
    if (count > 0xFFFFFFFFu)
        throw stream::exception("cannot skip more than the maximum array size", "stream::array_input");
    std::uint32_t from = std::min(index_, length_);
    std::uint32_t n = static_cast<std::uint32_t>(std::min<size_type>(count, length_ - from));
    index_ = from + n;
    return n;
}

}  // namespace stream
