#include "stream/output.h"

#include "errors/exception.h"

namespace stream {

void output::write(const std::string& text) { write(text.data(), static_cast<std::uint32_t>(text.size())); }

void output::write(const void* bytes, std::uint32_t length) {
    if (bytes == nullptr) return;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    for (std::uint32_t i = 0; i < length; ++i) put(p[i]);
}

void output::fill(size_type count, int byte) {
    for (size_type i = 0; i < count; ++i) put(byte);
}

void output::copy_from(input& source) {
    for (int byte; (byte = source.get()) >= 0;) put(byte);
}

void output::resize(size_type size) {
    size_type current = this->size();
    if (current > size) throw stream::exception("resize() does not truncate the stream", "stream::output");
    if (current < size) fill(size - current, 0);
}

}  // namespace stream
