#include "stream/fork_input.h"

namespace stream {

size_type fork_input::size() {
    if (size_ == unknown_size) size_ = fork_->size();
    return size_;
}

std::uint32_t fork_input::do_read(void* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    const std::uint32_t done = fork_->read_at(position_, buffer, length);
    position_ += done;
    return done;
}

int fork_input::do_get() {
    std::uint8_t byte = 0;
    if (fork_->read_at(position_, &byte, 1) != 1) return -1;
    ++position_;
    return byte;
}

}  // namespace stream
