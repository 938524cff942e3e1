#include "stream/random/input.h"

#include <algorithm>

namespace stream::random {

void input::unread(const void*, std::uint32_t length) { seek(position() - length); }

void input::unget(int) { seek(position() - 1); }

size_type input::skip(size_type count) {
    size_type here = position();
    size_type total = size();
    size_type left = total > here ? total - here : 0;
    size_type m = std::min(count, left);
    seek(here + m);
    return m;
}

}  // namespace stream::random
