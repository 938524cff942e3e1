#include "stream/fork_output.h"

#include <algorithm>

namespace stream {

void fork_output::write(const std::string& text) {
    // One write takes at most 4 GiB - 1 bytes.
    constexpr std::size_t piece = std::size_t{1} << 30;
    for (std::size_t done = 0; done < text.size(); done += piece)
        fork_->write(text.data() + done, static_cast<std::uint32_t>(std::min(piece, text.size() - done)));
}

void fork_output::write(const void* bytes, std::uint32_t length) {
    if (bytes == nullptr) return;
    fork_->write(bytes, length);
}

void fork_output::put(int byte) {
    auto value = static_cast<std::uint8_t>(byte);
    fork_->write(&value, 1);
}

size_type fork_output::position() { return fork_->position(); }

size_type fork_output::size() { return fork_->size(); }

void fork_output::resize(size_type size) { fork_->resize(size); }

void fork_output::seek(size_type position) { fork_->seek(position); }

}  // namespace stream
