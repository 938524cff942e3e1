#include "zip/zip64_end_header.h"

#include "errors/exception.h"
#include "stream/endian_input.h"

namespace format::zip {

std::uint32_t zip64_locator::read(stream::input& input, bool strict) {
    read_signature(input, signature);
    if (strict && !valid()) throw format::exception("bad header artfact", "format::zip::zip64_locator");
    stream::little_endian_input fields(input);
    end_disk = fields.read_u32();
    end_offset = fields.read_u64();
    total_disks = fields.read_u32();
    return size();
}

std::uint32_t zip64_end_header::read(stream::input& input, bool strict) {
    read_signature(input, signature);
    if (strict && !valid()) throw format::exception("bad header artfact", "format::zip::zip64_end_header");
    stream::little_endian_input fields(input);
    record_size = fields.read_u64();
    version_made_by = static_cast<std::uint16_t>(fields.read_u16());
    version_needed = static_cast<std::uint16_t>(fields.read_u16());
    this_disk = fields.read_u32();
    directory_disk = fields.read_u32();
    disk_entries = fields.read_u64();
    total_entries = fields.read_u64();
    directory_size = fields.read_u64();
    directory_offset = fields.read_u64();
    return size();
}

}  // namespace format::zip
