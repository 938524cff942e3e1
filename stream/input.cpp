#include "stream/input.h"

#include <algorithm>
#include <cstring>

#include "stream/output.h"

namespace stream {

void input::empty_unread() {
    count_ = index_ = 0;
    unread_.clear();  // keeps the capacity for the next push-back
}

std::uint8_t* input::scratch() {
    if (scratch_.size() < scratch_size) scratch_.resize(scratch_size);
    return scratch_.data();
}

int input::get() {
    if (index_ < count_) {
        int byte = unread_[index_++];
        if (index_ == count_) empty_unread();
        return byte;
    }
    return do_get();
}

std::uint32_t input::read(void* buffer, std::uint32_t length) {
    if (count_ == 0) return do_read(buffer, length);
    std::uint32_t n = std::min(length, count_ - index_);
    std::memcpy(buffer, unread_.data() + index_, n);
    index_ += n;
    if (index_ == count_) empty_unread();
    if (n < length) n += do_read(static_cast<std::uint8_t*>(buffer) + n, length - n);
    return n;
}

size_type input::skip(size_type count) {
    if (count_ == 0) return do_skip(count);
    std::uint32_t n = static_cast<std::uint32_t>(std::min<size_type>(count, count_ - index_));
    index_ += n;
    if (index_ == count_) empty_unread();
    size_type total = n;
    if (n < count) total += do_skip(count - n);
    return total;
}

size_type input::copy_to(output& target) {
    const std::uint8_t* pending = count_ ? unread_.data() + index_ : nullptr;
    target.write(pending, count_ - index_);
    size_type total = count_ - index_;
    empty_unread();
    return total + do_copy_to(target);
}

void input::unread(const void* bytes, std::uint32_t length) {
    if (length <= index_) {
        index_ -= length;
        std::memcpy(unread_.data() + index_, bytes, length);
        return;
    }
    // Rebuild: the pushed bytes first, then what was still undelivered. They
    // all lie just before the source's current position.
    std::vector<std::uint8_t> rebuilt(length + (count_ - index_));
    std::memcpy(rebuilt.data(), bytes, length);
    std::copy(unread_.begin() + index_, unread_.begin() + count_, rebuilt.begin() + length);
    count_ = static_cast<std::uint32_t>(rebuilt.size());
    index_ = 0;
    unread_.swap(rebuilt);
    base_ = do_position() - count_;
}

void input::unget(int byte) {
    std::uint8_t b = static_cast<std::uint8_t>(byte);
    unread(&b, 1);
}

size_type input::position() { return count_ ? base_ + index_ : do_position(); }

std::uint32_t input::do_read(void* buffer, std::uint32_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t n = 0;
    while (n < length) {
        int byte = get();
        if (byte < 0) break;
        out[n++] = static_cast<std::uint8_t>(byte);
    }
    return n;
}

size_type input::do_skip(size_type count) {
    std::uint8_t* buffer = scratch();
    size_type total = 0;
    while (count > 0) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<size_type>(count, scratch_size));
        std::uint32_t got = read(buffer, want);
        if (got == 0) break;
        count -= got;
        total += got;
    }
    return total;
}

size_type input::do_copy_to(output& target) {
    std::uint8_t* buffer = scratch();
    size_type total = 0;
    while (std::uint32_t got = read(buffer, scratch_size)) {
        target.write(buffer, got);
        total += got;
    }
    return total;
}

}  // namespace stream
