#include "packer/zip_append.h"

#include <algorithm>
#include <vector>

#include "errors/exception.h"
#include "io/file.h"
#include "stream/array_input.h"
#include "stream/fork_input.h"
#include "stream/safe_input.h"
#include "zip/archive.h"
#include "zip/central_header.h"
#include "zip/end_header.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

namespace records = format::zip::records;

struct zip64_refused {};

void put32(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
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

// Where the archive begins in the file: bytes in front of it that its
// offsets do not count (a program of its own, for instance) are told by
// where its directory really ends, right before the end record.
stream::size_type archive_begin(stream::fork_input& input) {
    format::zip::end_header end;
    const stream::size_type at = end.locate(input);
    if (at == format::zip::end_header::not_found) return 0;  // the reader says why
    input.seek(at);
    stream::safe_input safe(input);
    end.read(safe, true);
    if (end.total_entries == records::zip64_u16 || end.directory_size == records::zip64_u32 ||
        end.directory_offset == records::zip64_u32)
        throw zip64_refused();
    const stream::size_type counted = stream::size_type{end.directory_offset} + end.directory_size;
    return at >= counted ? at - counted : 0;
}

// Adds `shift` to the local header offset of every central record in
// `directory`, reading each record with the reader's own record class.
void shift_offsets(std::vector<std::uint8_t>& directory, std::size_t entries, stream::size_type shift) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        stream::array_input bytes(directory.data(), static_cast<std::uint32_t>(directory.size()),
                                  static_cast<std::uint32_t>(at));
        stream::safe_input safe(bytes);
        format::zip::central_header record;
        const std::uint32_t length = record.read(safe, true);
        if (record.local_header_offset == records::zip64_u32) throw zip64_refused();
        const stream::size_type moved = record.local_header_offset + shift;
        if (moved > records::zip64_u32) throw failure{"the output would reach 4 GiB: the stub reads no Zip64 archives"};
        put32(directory.data() + at + records::central::local_header_offset, moved);
        at += length;
    }
}

}  // namespace

void append_zip(output_file& out, const std::string& zip_path) {
    const std::string quoted = "\"" + zip_path + "\"";
    io::file zip{io::path(any::string(zip_path))};
    try {
        zip.data_fork().open();
        stream::fork_input input(zip.data_fork());
        const stream::size_type begin = archive_begin(input);

        // The archive is read as the stub reads it, so that nothing the stub
        // would refuse is packed.
        input.seek(begin);
        format::archive_events no_events;
        format::zip::archive reader(zip, no_events);
        reader.check(input);
        input.seek(begin);
        const std::size_t entries = reader.list(input).size();
        const stream::size_type directory_start = reader.directory_position();
        const stream::size_type end = reader.end_position();

        // Every offset now counts from the start of the whole output.
        const stream::size_type shift = out.position() + begin;
        std::vector<std::uint8_t> directory = read_range(input, directory_start, end - directory_start);
        shift_offsets(directory, entries, shift);
        std::vector<std::uint8_t> tail = read_range(input, end, input.size() - end);
        const stream::size_type directory_offset = directory_start - begin + shift;
        if (directory_offset > records::zip64_u32)
            throw failure{"the output would reach 4 GiB: the stub reads no Zip64 archives"};
        put32(tail.data() + records::end::directory_offset, directory_offset);

        copy_range(input, 0, directory_start, out);
        out.write(directory.data(), directory.size());
        out.write(tail.data(), tail.size());
        zip.data_fork().close(false);
    } catch (const zip64_refused&) {
        throw failure{quoted + " is a Zip64 archive, which the stub cannot read"};
    } catch (const un::exception& e) {
        throw failure{quoted + " is not a Zip archive the stub can read: " + un::display_text(e)};
    }
}

}  // namespace quillon::pack
