// The metadata applied to a file or folder after it has been written. Each
// value comes with a flag that says whether it is to be applied.
#pragma once

#include <cstdint>

#include "io/time.h"

namespace io {

struct item_info {
    // Windows attribute bits; the other systems map what they can.
    static constexpr std::uint32_t read_only_attribute = 0x01;
    static constexpr std::uint32_t directory_attribute = 0x10;
    static constexpr std::uint32_t archive_attribute = 0x20;

    bool has_modified = false;
    io::time modified;
    // When clear, the archive attribute alone is applied.
    bool has_attributes = false;
    std::uint32_t attributes = 0;
    // Default metadata clears the read-only attribute.
    bool has_read_only = false;
    bool read_only = false;
    bool has_created = false;
    io::time created;
    // POSIX permission bits (rwx for user, group and other, no more); where
    // given they replace what the read-only attribute would decide. The
    // process's umask still applies. Windows has no counterpart.
    bool has_mode = false;
    std::uint32_t mode = 0;
    static constexpr std::uint32_t permission_bits = 0777;

    // The attribute word to apply: `attributes` or the archive bit, with
    // the read-only bit as `read_only` decides.
    std::uint32_t attribute_word() const;
};

}  // namespace io
