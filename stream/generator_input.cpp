#include "stream/generator_input.h"

#include <algorithm>
#include <cstring>

namespace stream {

generator_input::generator_input(input* source) : filter_input(source), sink_(bytes) {}

void generator_input::refill() {
    std::uint32_t rest = left();
    if (index > 0 && rest > 0) std::memmove(bytes.data(), bytes.data() + index, rest);
    delivered += index;
    bytes.resize(rest);
    count = rest;
    index = 0;
    sink_.seek(rest);
    count += static_cast<std::uint32_t>(produce(produce_size));
}

int generator_input::do_get() {
    if (left() == 0) refill();
    if (left() == 0) return -1;
    return bytes[index++];
}

std::uint32_t generator_input::do_read(void* buffer, std::uint32_t length) {
    if (left() < length) refill();
    std::uint32_t n = std::min(length, left());
    if (n > 0) std::memcpy(buffer, bytes.data() + index, n);
    index += n;
    return n;
}

size_type generator_input::do_skip(size_type count_wanted) {
    size_type total = 0;
    while (total < count_wanted) {
        if (left() == 0) refill();
        if (left() == 0) break;
        auto n = static_cast<std::uint32_t>(std::min<size_type>(count_wanted - total, left()));
        index += n;
        total += n;
    }
    return total;
}

}  // namespace stream
