#include "stream/transform.h"

#include <algorithm>

#include "errors/exception.h"

namespace stream {

size_type transform::process(input&, output&, size_type) {
    throw stream::exception("partial stream processing is not implemented", "stream::transform");
}

size_type transform::process(input&, output&) {
    throw stream::exception("full stream processing is not implemented", "stream::transform");
}

size_type copy_transform::process(input& source, output& target) {
    const size_type start = target.position();
    const auto size = static_cast<std::uint32_t>(buffer_.size());
    std::uint32_t got;
    do {
        got = source.read(buffer_.data(), size);
        target.write(buffer_.data(), got);
    } while (got != 0);
    return target.position() - start;
}

size_type copy_transform::process(input& source, output& target, size_type count) {
    if (count == everything) return process(source, target);
    const size_type start = target.position();
    const auto size = static_cast<std::uint32_t>(buffer_.size());
    std::uint32_t chunk, got;
    do {
        chunk = static_cast<std::uint32_t>(std::min<size_type>(count, size));
        got = source.read(buffer_.data(), chunk);
        target.write(buffer_.data(), got);
        count -= got;
    } while (got == chunk && count > 0);
    return target.position() - start;
}

}  // namespace stream
