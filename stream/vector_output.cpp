#include "stream/vector_output.h"

#include <cstring>

#include "errors/exception.h"

namespace stream {

void vector_output::put(int byte) {
    auto b = static_cast<std::uint8_t>(byte);
    if (index_ < vector_->size())
        (*vector_)[index_] = b;
    else
        vector_->push_back(b);
    ++index_;
}

void vector_output::write(const void* bytes, std::uint32_t length) {
    if (length == 0 || bytes == nullptr) return;
    std::size_t end = std::size_t{index_} + length;
    if (vector_->size() < end) vector_->resize(end);
    std::memcpy(vector_->data() + index_, bytes, length);
    index_ += length;
}

void vector_output::copy_from(input& source) {
    size_type n = source.size();
    if (n > 0xFFFFFFFFu || vector_->size() + n > 0xFFFFFFFFu)
        throw stream::exception("input stream is too large to copy into the vector", "stream::vector_output");
    if (n == 0) return;
    vector_->resize(vector_->size() + n);
    index_ += source.read(vector_->data() + index_, static_cast<std::uint32_t>(n));
}

void vector_output::resize(size_type size) {
    size_type current = this->size();
    if (current > size) throw stream::exception("I do not truncate the stream", "stream::vector_output");
    if (current < size) vector_->resize(size);
}

}  // namespace stream
