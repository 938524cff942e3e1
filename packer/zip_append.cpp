#include "packer/zip_append.h"

#include <algorithm>
#include <vector>

#include "errors/exception.h"
#include "io/file.h"
#include "io/system.h"
#include "stream/array_input.h"
#include "stream/fork_input.h"
#include "stream/safe_input.h"
#include "zip/archive.h"
#include "zip/byte_buffer.h"
#include "zip/central_header.h"
#include "zip/end_records_writer.h"
#include "zip/records.h"
#include "zip/survey.h"

namespace quillon::pack {

namespace {

namespace records = format::zip::records;
using format::zip::byte_buffer;

constexpr stream::size_type none = ~stream::size_type{0};
constexpr std::uint64_t marker = records::zip64_u32;

// Fields of the central record that the local header shares, at their
// central offsets.
constexpr std::uint32_t central_shared(std::uint32_t local_offset) {
    return records::central::shared_fields + local_offset - records::local::version_needed;
}
constexpr std::uint32_t central_version_needed = central_shared(records::local::version_needed);
constexpr std::uint32_t central_compressed = central_shared(records::local::compressed_size);
constexpr std::uint32_t central_uncompressed = central_shared(records::local::uncompressed_size);

std::uint64_t get(const std::vector<std::uint8_t>& bytes, std::size_t at, unsigned size) {
    return byte_buffer::get(bytes.data() + at, size);
}
void set(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, unsigned size) {
    byte_buffer::set(bytes.data() + at, value, size);
}

// Reads `length` bytes from `at` of the zip in one piece.
std::vector<std::uint8_t> read_range(stream::fork_input& input, stream::size_type at, stream::size_type length) {
    std::vector<std::uint8_t> bytes(length);
    input.seek(at);
    stream::safe_input safe(input);
    for (std::size_t done = 0; done < bytes.size();) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        safe.read(bytes.data() + done, piece);
        done += piece;
    }
    return bytes;
}

// Copies `length` bytes from `at` of the zip to the output.
void copy_range(stream::fork_input& input, stream::size_type at, stream::size_type length, output_file& out) {
    input.seek(at);
    stream::safe_input safe(input);
    std::vector<std::uint8_t> piece(1 << 20);
    while (length > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<stream::size_type>(length, piece.size()));
        safe.read(piece.data(), n);
        out.write(piece.data(), n);
        length -= n;
    }
}

// The Zip64 extra field block of a central record's extra field: where its
// data begins in `extra` and how long it is; `none` when there is none.
std::pair<std::size_t, std::size_t> zip64_block(const std::vector<std::uint8_t>& extra) {
    for (std::size_t at = 0; at + records::extra_block_header_len <= extra.size();) {
        const auto tag = get(extra, at, 2), size = get(extra, at + 2, 2);
        at += records::extra_block_header_len;
        if (tag == records::zip64_extra) return {at, std::min<std::size_t>(size, extra.size() - at)};
        at += size;
    }
    return {none, 0};
}

// The local header offset the record holds, in its classic field or its
// Zip64 extra field, as the reader's own record class reads it.
std::uint64_t recorded_offset(const std::vector<std::uint8_t>& record) {
    stream::array_input bytes(record.data(), static_cast<std::uint32_t>(record.size()));
    stream::safe_input safe(bytes);
    format::zip::central_header parsed;
    parsed.read(safe, true);
    return parsed.local_header_offset;
}

// The central record `record` with `shift` added to its local header
// offset. One that no longer fits in 32 bits moves into the Zip64 extra
// field, after the sizes held there, and the record grows.
std::vector<std::uint8_t> moved_record(std::vector<std::uint8_t> record, std::uint64_t shift) {
    const std::size_t name_length = get(record, records::central::name_length, 2);
    const std::size_t extra_at = records::central_header_len + name_length;
    const std::size_t extra_length = get(record, records::central::extra_length, 2);
    std::vector<std::uint8_t> extra(record.begin() + extra_at, record.begin() + extra_at + extra_length);
    const auto [data_at, data_size] = zip64_block(extra);
    // The offset's place in the Zip64 data: after the sizes that are there.
    const std::size_t index =
        8 * ((get(record, central_uncompressed, 4) == marker) + (get(record, central_compressed, 4) == marker));
    const std::uint64_t offset = get(record, records::central::local_header_offset, 4);

    if (offset == marker) {  // the reader's check found it there
        const std::size_t at = extra_at + data_at + index;
        set(record, at, get(record, at, 8) + shift, 8);
        return record;
    }
    if (offset + shift < marker) {
        set(record, records::central::local_header_offset, offset + shift, 4);
        return record;
    }
    byte_buffer value;
    value.put64(offset + shift);
    if (data_at == none) {
        byte_buffer block;
        block.put16(records::zip64_extra);
        block.put16(8);
        block.put(value.bytes);
        extra.insert(extra.begin(), block.bytes.begin(), block.bytes.end());
    } else {
        if (data_size < index) throw failure{"bad Zip64 extra field"};
        extra.insert(extra.begin() + static_cast<std::ptrdiff_t>(data_at + index), value.bytes.begin(),
                     value.bytes.end());
        set(extra, data_at - 2, data_size + 8, 2);
    }
    if (extra.size() > 0xFFFF) throw failure{"an extra field would grow past its 64 KiB"};
    set(record, records::central::local_header_offset, marker, 4);
    set(record, records::central::extra_length, extra.size(), 2);
    if (get(record, central_version_needed, 1) < records::version_zip64)
        set(record, central_version_needed, records::version_zip64, 2);
    record.erase(record.begin() + static_cast<std::ptrdiff_t>(extra_at),
                 record.begin() + static_cast<std::ptrdiff_t>(extra_at + extra_length));
    record.insert(record.begin() + static_cast<std::ptrdiff_t>(extra_at), extra.begin(), extra.end());
    return record;
}

// The whole directory, each record's local header offset made the place in
// the output where the reader found that header in the zip (`found`, in
// directory order) plus `start`, where the zip begins in the output.
// Offsets do not all count the same way in every zip: a header the reader
// found only by the other way must be moved by its own amount.
std::vector<std::uint8_t> moved_directory(const std::vector<std::uint8_t>& directory, std::size_t entries,
                                          const std::vector<stream::size_type>& found, std::uint64_t start) {
    byte_buffer moved;
    std::size_t at = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        // The reader's check has read every record: each lies inside.
        const std::size_t length = records::central_header_len + get(directory, at + records::central::name_length, 2) +
                                   get(directory, at + records::central::extra_length, 2) +
                                   get(directory, at + records::central::comment_length, 2);
        std::vector<std::uint8_t> record(directory.begin() + at, directory.begin() + at + length);
        const std::uint64_t recorded = recorded_offset(record);
        moved.put(moved_record(std::move(record), start + found.at(i) - recorded));
        at += length;
    }
    return std::move(moved.bytes);
}

// What comes after the directory, with its new size and offset: the Zip64
// end record and locator the zip had, moved, or new ones where the classic
// fields no longer hold the values; then the end record with its comment.
std::vector<std::uint8_t> moved_end_records(std::vector<std::uint8_t> tail, stream::size_type zip64_length,
                                            std::uint64_t entries, std::uint64_t size, std::uint64_t offset) {
    const std::size_t end_at = zip64_length;  // the end record follows the Zip64 records
    const bool overflows = size >= marker || offset >= marker;
    if (zip64_length > 0) {
        set(tail, records::zip64_end::directory_size, size, 8);
        set(tail, records::zip64_end::directory_offset, offset, 8);
        set(tail, end_at - records::zip64_locator_len + records::zip64_locator::end_offset, offset + size, 8);
    }
    const auto keep_marker = [&](std::size_t field, std::uint64_t value) {
        if (get(tail, end_at + field, 4) != marker) set(tail, end_at + field, value >= marker ? marker : value, 4);
    };
    keep_marker(records::end::directory_size, size);
    keep_marker(records::end::directory_offset, offset);
    if (zip64_length > 0 || !overflows) return tail;

    byte_buffer zip64;
    format::zip::end_records_writer::put_zip64(zip64, {entries, size, offset}, offset + size);
    zip64.put(tail);
    return std::move(zip64.bytes);
}

}  // namespace

void append_zip(output_file& out, const std::string& zip_path) {
    const std::string quoted = "\"" + zip_path + "\"";
    io::file zip{io::path(any::string(zip_path))};
    try {
        zip.data_fork().open();
        stream::fork_input input(zip.data_fork());
        // The archive is read as the stub reads it, so that nothing the stub
        // would refuse is packed; it begins where its own offsets say (bytes
        // in front of it that they do not count are a program of its own).
        format::archive_events no_events;
        format::zip::archive reader(input);
        reader.find_base();
        const std::uint64_t entries = reader.locate() ? reader.total_entries() : 0;
        std::string no_passphrase;
        format::zip::survey check(reader, no_events, no_passphrase, io::system::has_symbolic_links);
        check.run(false);
        check.raise_first();
        std::vector<stream::size_type> found;
        for (std::uint64_t i = 0; i < entries; ++i) found.push_back(check.local_position(i));
        const stream::size_type directory_start = reader.directory_position();
        // The Zip64 records, when there are any, are moved where the reader
        // found them: from the directory's end to the end record.
        const stream::size_type directory_end = reader.directory_end();
        const stream::size_type zip64_length = reader.end_position() - directory_end;

        // Every offset now counts from the start of the whole output.
        const std::vector<std::uint8_t> directory = moved_directory(
            read_range(input, directory_start, directory_end - directory_start), entries, found, out.position());
        const std::uint64_t directory_offset = out.position() + directory_start;
        const std::vector<std::uint8_t> tail =
            moved_end_records(read_range(input, directory_end, input.size() - directory_end), zip64_length, entries,
                              directory.size(), directory_offset);

        copy_range(input, 0, directory_start, out);
        out.write(directory.data(), directory.size());
        out.write(tail.data(), tail.size());
        zip.data_fork().close(false);
    } catch (const un::exception& e) {
        throw failure{quoted + " is not a Zip archive the stub can read: " + un::display_text(e)};
    }
}

}  // namespace quillon::pack
