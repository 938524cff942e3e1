#include "zip/end_records_writer.h"

#include "zip/records.h"

namespace format::zip {

namespace {

// What the Zip64 end record's size field counts: the record after it.
constexpr std::uint64_t zip64_end_rest = records::zip64_end_len - records::zip64_end::version_made_by;
constexpr std::uint32_t zip64_made_by = records::unix_host << 8 | records::version_zip64;

std::uint32_t classic32(std::uint64_t value) {
    return value >= records::zip64_u32 ? records::zip64_u32 : static_cast<std::uint32_t>(value);
}

}  // namespace

bool end_records_writer::needs_zip64(const directory_place& place) {
    return place.entries >= records::zip64_u16 || place.size >= records::zip64_u32 ||
           place.offset >= records::zip64_u32;
}

void end_records_writer::put_zip64(byte_buffer& out, const directory_place& place, std::uint64_t at) {
    out.put32(records::zip64_end_signature);
    out.put64(zip64_end_rest);
    out.put16(zip64_made_by);
    out.put16(records::version_zip64);
    out.put32(0);  // this disk
    out.put32(0);  // disk of the central directory
    out.put64(place.entries);
    out.put64(place.entries);
    out.put64(place.size);
    out.put64(place.offset);
    out.put32(records::zip64_locator_signature);
    out.put32(0);  // disk of the Zip64 end record
    out.put64(at);
    out.put32(1);  // disks in all
}

void end_records_writer::put_end(byte_buffer& out, const directory_place& place, const std::string& comment) {
    const std::uint32_t count =
        place.entries >= records::zip64_u16 ? records::zip64_u16 : static_cast<std::uint32_t>(place.entries);
    out.put32(records::end_signature);
    out.put16(0);  // this disk
    out.put16(0);  // disk of the central directory
    out.put16(count);
    out.put16(count);
    out.put32(classic32(place.size));
    out.put32(classic32(place.offset));
    out.put16(static_cast<std::uint32_t>(comment.size()));
    out.put(comment);
}

byte_buffer end_records_writer::records(const directory_place& place, std::uint64_t at, const std::string& comment) {
    byte_buffer out;
    if (needs_zip64(place)) put_zip64(out, place, at);
    put_end(out, place, comment);
    return out;
}

}  // namespace format::zip
