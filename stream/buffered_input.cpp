#include "stream/buffered_input.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"

namespace stream {

buffered_input::buffered_input(input& source, std::uint32_t block_size)
    : filter_input(&source), block_size_(block_size), buffer_(block_size), base_(source.position()) {}

std::uint32_t buffered_input::refill() {
    if (count_ - index_ >= block_size_)
        throw un::logic_error("refill with a whole block undelivered", "stream::buffered_input");
    if (index_ < count_) std::memmove(buffer_.data(), buffer_.data() + index_, count_ - index_);
    count_ -= index_;
    base_ += index_;
    index_ = 0;
    if (buffer_.size() < block_size_) buffer_.resize(block_size_);
    std::uint32_t got = source()->read(buffer_.data() + count_, block_size_ - count_);
    count_ += got;
    return got;
}

int buffered_input::do_get() {
    if (index_ == count_) refill();
    if (index_ == count_) return -1;
    return buffer_[index_++];
}

std::uint32_t buffered_input::do_read(void* buffer, std::uint32_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t k = std::min(length, count_ - index_);
    std::memcpy(out, buffer_.data() + index_, k);
    index_ += k;
    std::uint32_t rest = length - k;
    if (rest >= block_size_ / 2) {
        std::uint32_t direct = source()->read(out + k, rest);
        base_ += index_ + direct;
        index_ = count_ = 0;
        return k + direct;
    }
    if (rest == 0) return k;
    refill();
    std::uint32_t more = std::min(rest, count_);
    std::memcpy(out + k, buffer_.data(), more);
    index_ = more;
    return k + more;
}

size_type buffered_input::do_skip(size_type count) {
    std::uint32_t k = static_cast<std::uint32_t>(std::min<size_type>(count, count_ - index_));
    index_ += k;
    if (k == count) return k;
    size_type skipped = source()->skip(count - k);
    base_ += count_ + skipped;
    index_ = count_ = 0;
    return k + skipped;
}

void buffered_input::unread(const void* bytes, std::uint32_t length) {
    if (length <= index_) {
        index_ -= length;
        std::memcpy(buffer_.data() + index_, bytes, length);
        return;
    }
    size_type before = do_position();
    std::vector<std::uint8_t> rebuilt(std::max<std::size_t>(block_size_, length + (count_ - index_)));
    std::memcpy(rebuilt.data(), bytes, length);
    std::memcpy(rebuilt.data() + length, buffer_.data() + index_, count_ - index_);
    count_ = length + (count_ - index_);
    index_ = 0;
    buffer_.swap(rebuilt);
    base_ = before - length;
}

void buffered_input::unget(int byte) {
    std::uint8_t b = static_cast<std::uint8_t>(byte);
    unread(&b, 1);
}

void buffered_input::give_back() {
    if (index_ < count_) source()->unread(buffer_.data() + index_, count_ - index_);
    base_ += index_;
    count_ = index_ = 0;
}

}  // namespace stream
