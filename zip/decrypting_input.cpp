#include "zip/decrypting_input.h"

#include <algorithm>

namespace stream {

std::uint32_t decrypting_input::do_read(void* buffer, std::uint32_t length) {
    const std::uint32_t got = source()->read(buffer, length);
    if (got > 0) cipher_->decrypt(static_cast<std::uint8_t*>(buffer), got);
    return got;
}

int decrypting_input::do_get() {
    const int byte = source()->get();
    if (byte < 0) return -1;
    std::uint8_t plain = static_cast<std::uint8_t>(byte);
    cipher_->decrypt(&plain, 1);
    return plain;
}

// Through the scratch buffer in pieces rather than byte by byte: the same
// bytes are decrypted in the same order.
size_type decrypting_input::do_skip(size_type count) {
    std::uint8_t* buffer = scratch();
    size_type total = 0;
    while (total < count) {
        const auto want = static_cast<std::uint32_t>(std::min<size_type>(count - total, scratch_size));
        const std::uint32_t got = do_read(buffer, want);
        if (got == 0) break;
        total += got;
    }
    return total;
}

}  // namespace stream
