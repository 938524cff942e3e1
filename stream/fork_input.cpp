#include "stream/fork_input.h"

#include <algorithm>
#include <cstring>

namespace stream {

size_type fork_input::size() {
    if (size_ == unknown_size) size_ = fork_->size();
    return size_;
}

std::uint32_t fork_input::from_block(std::uint8_t* buffer, std::uint32_t length) {
    if (position_ < block_start_ || position_ - block_start_ >= block_length_) return 0;
    const auto offset = static_cast<std::uint32_t>(position_ - block_start_);
    const std::uint32_t count = std::min(length, block_length_ - offset);
    std::memcpy(buffer, ahead_.data() + offset, count);
    position_ += count;
    return count;
}

std::uint32_t fork_input::do_read(void* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = from_block(bytes, length);
    if (done == length) return done;
    if (length - done < ahead_.size()) {
        block_start_ = position_;
        block_length_ = 0;  // kept empty should the read fail
        block_length_ = fork_->read_at(position_, ahead_.data(), static_cast<std::uint32_t>(ahead_.size()));
        return done + from_block(bytes + done, length - done);
    }
    const std::uint32_t direct = fork_->read_at(position_, bytes + done, length - done);
    position_ += direct;
    return done + direct;
}

int fork_input::do_get() {
    std::uint8_t byte = 0;
    if (do_read(&byte, 1) != 1) return -1;
    return byte;
}

}  // namespace stream
