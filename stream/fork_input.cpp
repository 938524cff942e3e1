#include "stream/fork_input.h"

namespace stream {

size_type fork_input::size() { return fork_->size(); }

void fork_input::seek(size_type position) { fork_->seek(position); }

std::uint32_t fork_input::do_read(void* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    return fork_->read(buffer, length);
}

int fork_input::do_get() {
    std::uint8_t byte = 0;
    return fork_->read(&byte, 1) == 1 ? byte : -1;
}

size_type fork_input::do_position() { return fork_->position(); }

}  // namespace stream
