#include "zip/archive.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "stream/buffered_input.h"
#include "stream/safe_input.h"
#include "zip/records.h"
#include "zip/zip64_end_header.h"

namespace format::zip {

namespace {

const char* const where = "format::zip::archive";
constexpr stream::size_type nowhere = end_header::not_found;

[[noreturn]] void fail(const std::string& message) { throw format::exception(message, where); }

template <typename record>
void read_record(stream::fork_input& input, stream::size_type at, record& into) {
    input.seek(at);
    stream::safe_input safe(input);
    into.read(safe, true);
}

}  // namespace

bool archive::locate() {
    const stream::size_type end_position = end_.locate(*input_, base_position_, archive_end_);
    if (end_position == nowhere) {
        // What is there instead says what went wrong: nothing at all, or
        // the start of an archive whose end is missing.
        if (input_->size() <= base_position_) fail("cannot locate the end header: no archive follows the program");
        if (record_at(base_position_, records::local_header_len, records::local_signature))
            fail("cannot locate the end header: the file is incomplete (a download cut short?); download it again");
        fail("cannot locate the end header");
    }
    found_ = read_end_records(end_position, end_);
    if (found_.has_entries) refuse_second_reading(found_);
    return found_.has_entries;
}

archive::reading archive::read_end_records(stream::size_type end_position, end_header& end) {
    reading found;
    found.end_position = found.directory_position = found.directory_end = end_position;
    read_record(*input_, end_position, end);
    found.after_end = input_->position();
    if (end.this_disk != 0) fail("segmented multi-part archives are not supported");
    found.total_entries = end.total_entries;
    found.directory_size = end.directory_size;
    found.directory_offset = end.directory_offset;
    read_zip64_end(found, end);

    if (found.total_entries == 0 && found.directory_size == 0) return found;  // empty, right before its end records
    // Every central record takes at least its fixed bytes: a count that
    // needs more than the directory holds is refused before any record is
    // read or any memory is taken for them.
    if (found.total_entries == 0 || found.total_entries > found.directory_size / records::central_header_len)
        fail("the central directory holds fewer entries than the end record says");
    if (!probe_directory(found)) fail("cannot locate the central directory");
    found.has_entries = true;
    return found;
}

// The Zip64 end record, found through the locator right before the end
// record; its count, size and offset replace the classic ones, which must
// say the same wherever they do not hold the all-ones marker.
void archive::read_zip64_end(reading& found, const end_header& end) {
    zip64_locator locator;
    if (!read_locator(found.end_position, locator)) return;
    if (locator.end_disk != 0 || locator.total_disks > 1) fail("segmented multi-part archives are not supported");

    // Its offset counts either way, as the directory's does.
    const stream::size_type size = input_->size();
    const auto shifted = [&](stream::size_type shift) {
        return locator.end_offset > size - shift ? nowhere : shift + locator.end_offset;
    };
    const stream::size_type at =
        zip64_end_among(found.end_position - records::zip64_locator_len, {shifted(base_position_), shifted(0)});
    if (at == nowhere) fail("cannot locate the Zip64 end record");
    zip64_end_header record;
    read_record(*input_, at, record);
    if (record.this_disk != 0 || record.directory_disk != 0) fail("segmented multi-part archives are not supported");
    const bool agree = (end.total_entries == records::zip64_u16 || end.total_entries == record.total_entries) &&
                       (end.directory_size == records::zip64_u32 || end.directory_size == record.directory_size) &&
                       (end.directory_offset == records::zip64_u32 || end.directory_offset == record.directory_offset);
    if (!agree) fail("the Zip64 end record and the end record disagree");
    found.total_entries = record.total_entries;
    found.directory_size = record.directory_size;
    found.directory_offset = record.directory_offset;
    found.directory_end = at;
}

bool archive::read_locator(stream::size_type end_position, zip64_locator& locator) {
    if (end_position - base_position_ < records::zip64_locator_len) return false;
    const stream::size_type locator_position = end_position - records::zip64_locator_len;
    if (!record_at(locator_position, records::zip64_locator_len, records::zip64_locator_signature)) return false;
    read_record(*input_, locator_position, locator);
    return true;
}

// The record ends where the locator begins when nothing follows it; a
// record running into the locator is not one.
stream::size_type archive::zip64_end_among(stream::size_type locator_position,
                                           std::initializer_list<stream::size_type> candidates) {
    for (const stream::size_type at : candidates) {
        if (at == nowhere || at < base_position_ || at > locator_position ||
            locator_position - at < records::zip64_end_len)
            continue;
        if (record_at(at, records::zip64_end_len, records::zip64_end_signature)) return at;
    }
    return nowhere;
}

// Whatever the offsets count from, the directory ends right before the
// (Zip64) end record, so its offset and size tell where the archive begins.
// A Zip64 locator with no record either way leaves the base where it was:
// begun after it, the archive would hide the locator, which whoever reads
// the whole file sees again; `locate` refuses it.
stream::size_type archive::find_base() {
    const stream::size_type end_position = end_.locate(*input_, base_position_, archive_end_);
    if (end_position == nowhere) return base_position_;
    end_header end;
    read_record(*input_, end_position, end);
    stream::size_type directory_end = end_position;
    stream::size_type counted = stream::size_type{end.directory_offset} + end.directory_size;
    zip64_locator locator;
    if (read_locator(end_position, locator)) {
        const stream::size_type locator_position = end_position - records::zip64_locator_len;
        const stream::size_type before =
            locator_position >= records::zip64_end_len ? locator_position - records::zip64_end_len : nowhere;
        const stream::size_type pointed =
            locator.end_offset > input_->size() - base_position_ ? nowhere : base_position_ + locator.end_offset;
        const stream::size_type at = zip64_end_among(locator_position, {before, pointed});
        if (at == nowhere) return base_position_;
        zip64_end_header record;
        read_record(*input_, at, record);
        if (record.directory_offset > ~std::uint64_t{0} - record.directory_size) return base_position_;
        directory_end = at;
        counted = record.directory_offset + record.directory_size;
    }
    if (directory_end - base_position_ > counted) base_position_ = directory_end - counted;
    return base_position_;
}

// The offsets of an archive count either from where it begins in the file
// (appended as it was) or from the start of the file (adjusted). The
// directory ends where the end record begins, which tells the two apart when
// they differ; local headers are then looked for the same way first. Trying
// the other way first would read a stored entry's data as a header whenever
// another entry's header lies just that far on, and extract the wrong entry.
bool archive::probe_directory(reading& found) {
    const stream::size_type size = input_->size();
    if (found.directory_offset > size || found.directory_size > size) return false;
    const stream::size_type absolute = found.directory_offset;
    const bool relative_possible = found.directory_offset <= size - base_position_;
    const stream::size_type relative = relative_possible ? base_position_ + found.directory_offset : nowhere;
    const bool absolute_fits = absolute + found.directory_size == found.directory_end;
    const bool relative_fits = relative_possible && relative + found.directory_size == found.directory_end;
    const bool absolute_first = absolute_fits && !relative_fits;
    for (stream::size_type q : {absolute_first ? absolute : relative, absolute_first ? relative : absolute}) {
        // The directory lies in front of its end records, never in the
        // comment or across them.
        if (q == nowhere || q > found.directory_end || found.directory_end - q < found.directory_size) continue;
        if (record_at(q, records::central_header_len, records::central_signature)) {
            found.local_shift = q == relative ? base_position_ : 0;
            found.directory_position = q;
            return true;
        }
    }
    return false;
}

// Two archives in one file: an end record in the comment (or before the
// real one) that leads to a directory of its own. Readers differ on which
// one they take, so what one of them shows could hide what another writes;
// neither is taken. A signature that leads nowhere, an empty record, or a
// copy of the same record is no second archive.
void archive::refuse_second_reading(const reading& chosen) {
    for (const stream::size_type at : end_header::signatures(*input_, base_position_, archive_end_)) {
        if (at == chosen.end_position) continue;
        end_header other_end;
        reading other;
        try {
            other = read_end_records(at, other_end);
        } catch (const un::exception&) {
            continue;
        }
        if (!other.has_entries) continue;
        if (other.directory_position == chosen.directory_position && other.total_entries == chosen.total_entries &&
            other.directory_size == chosen.directory_size)
            continue;
        fail("the file holds a second archive directory: its readers would not agree on what it contains");
    }
}

bool archive::record_at(stream::size_type at, std::uint32_t length, std::uint32_t signature) {
    const stream::size_type size = input_->size();
    if (at > size || size - at < length) return false;
    input_->seek(at);
    records::signature_bytes found;
    header::read_signature(*input_, found);
    return header::signature_is(found, signature);
}

void archive::read_directory(const std::function<void(const central_header&, std::uint64_t)>& visit) {
    if (!found_.has_entries) return;
    input_->seek(found_.directory_position);
    // Records are read field by field: through a block buffer, not one
    // system call per field.
    stream::buffered_input buffered(*input_, directory_block);
    stream::safe_input safe(buffered);
    central_header record;
    stream::size_type consumed = 0;
    for (std::uint64_t i = 0; i < found_.total_entries; ++i) {
        if (found_.directory_size - consumed < records::central_header_len)
            fail("the central directory holds fewer entries than the end record says");
        consumed += record.read(safe, true);
        if (consumed > found_.directory_size)
            fail("the central directory holds fewer entries than the end record says");
        // The visitor may read elsewhere in the file; the directory is read
        // on from where the block buffer's source stood.
        const stream::size_type resume = input_->position();
        visit(record, i);
        if (input_->position() != resume) input_->seek(resume);
    }
    if (consumed != found_.directory_size) fail("the central directory holds more entries than the end record says");
}

stream::size_type archive::locate_local_header(const central_header& record, local_header& header,
                                               std::uint32_t& length) {
    const stream::size_type offset = record.local_header_offset;
    const stream::size_type other_shift = found_.local_shift == base_position_ ? 0 : base_position_;
    for (stream::size_type shift : {found_.local_shift, other_shift}) {
        if (offset > ~stream::size_type{0} - shift) continue;
        if (header_at(shift + offset, header, length)) {
            take_deferred(record, header);
            return shift + offset;
        }
    }
    fail("cannot locate a local header");
}

std::uint32_t archive::read_local_header(stream::size_type position, const central_header& record,
                                         local_header& header) {
    std::uint32_t length = 0;
    if (!header_at(position, header, length)) fail("cannot locate a local header");
    take_deferred(record, header);
    return length;
}

// One block read at `at`: its first four bytes tell whether a local header
// starts there, and the header is read from the same block; the input then
// stands right after it.
bool archive::header_at(stream::size_type at, local_header& header, std::uint32_t& length) {
    const stream::size_type size = input_->size();
    if (at > size || size - at < records::local_header_len) return false;
    input_->seek(at);
    stream::buffered_input buffered(*input_, local_header_block);
    buffered.refill();
    records::signature_bytes found{};
    std::memcpy(found.bytes, buffered.data(), std::min<std::uint32_t>(4, buffered.available()));
    if (!header::signature_is(found, records::local_signature)) return false;
    {
        stream::safe_input safe(buffered);
        length = header.read(safe, true);
    }
    buffered.give_back();  // the entry's data starts right after the header
    if (!header.valid()) fail("bad local header");
    return true;
}

// What the header leaves to a descriptor after the data, the directory
// holds; so does it the UTC time a header lacks.
void archive::take_deferred(const central_header& record, local_header& header) {
    entry_fields& fields = header.fields;
    if (fields.has_descriptor()) {
        fields.crc = record.fields.crc;
        fields.compressed_size = record.fields.compressed_size;
        fields.uncompressed_size = record.fields.uncompressed_size;
    }
    if (!fields.exact_time && record.fields.exact_time) {
        fields.modified = record.fields.modified;
        fields.exact_time = true;
    }
}

}  // namespace format::zip
