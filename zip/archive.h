// The directory of a Zip archive that lies in a larger file (a program with
// the archive appended): finds the end record from the end of the file and
// the Zip64 end record through its locator, where the archive begins and
// which way its offsets count, reads the central records in order, and
// finds and reads each entry's local header. It only reads: what an entry
// may be is judged by the survey (zip/survey.h), what its data holds by the
// item reader, and writing is the extraction's.
//
// Offsets stored in the archive are tried first relative to where the
// archive begins in the file (an archive simply appended to a program) and
// then as absolute positions (one whose offsets were adjusted to the whole
// file).
//
// Every failure is a format::exception from "format::zip::archive" (or a
// record's own): no end record, a directory that holds fewer or more
// records than the end records say, end records that can be read as more
// than one directory, Zip64 records that disagree with the end record.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "stream/fork_input.h"
#include "zip/central_header.h"
#include "zip/end_header.h"
#include "zip/local_header.h"

namespace format::zip {

class zip64_locator;

class archive {
public:
    // `input` is borrowed; it stands where the archive begins.
    explicit archive(stream::fork_input& input) : input_(&input), base_position_(input.position()) {}
    archive(const archive&) = delete;
    archive& operator=(const archive&) = delete;

    // Where the archive ends when something follows it in the file (the
    // certificates of a signed program); the end of the file otherwise.
    void limit_to(stream::size_type end) { archive_end_ = end; }

    // For an archive whose start is not known (a zip with a program of its
    // own in front, which its offsets may not count): moves the base
    // position to where the archive begins by its own end records, that is
    // where its directory ends less the directory's offset and size. The
    // directory ends at the Zip64 end record when there is one (looked for
    // right before its locator, where every writer puts it, then where the
    // locator says), else at the end record. The base stays where it was
    // when the end records tell nothing, and `locate` then says why. Called
    // before `locate`; returns the new base position.
    stream::size_type find_base();

    // Reads the end records and finds the central directory; false when the
    // archive holds no entry. Throws when there is no end record, when two
    // of the end records in the file's last 64 KiB would each be read as a
    // different directory, and when the Zip64 end record disagrees with the
    // end record.
    bool locate();

    // Reads every central record in order and hands each to `visit` with
    // its index, checking that they are as many as the end records say and
    // fill the directory exactly. `visit` may read elsewhere in the file.
    void read_directory(const std::function<void(const central_header&, std::uint64_t)>& visit);

    // Finds the local header of a central record (its offset tried the way
    // the directory was found, then the other way) and reads it into
    // `header` with the values the directory holds where the header defers
    // them (a data descriptor's CRC and sizes, the UTC time); the input then
    // stands on the entry's data. Returns its position, and its length in
    // `length`. Throws "cannot locate a local header", and "bad local
    // header" for one that no entry could have.
    stream::size_type locate_local_header(const central_header& record, local_header& header, std::uint32_t& length);
    // The same for a header whose position is known; returns its length.
    std::uint32_t read_local_header(stream::size_type position, const central_header& record, local_header& header);

    stream::fork_input& input() { return *input_; }
    stream::size_type base_position() const { return base_position_; }
    // Where the central directory's first byte and the end record are in
    // the file, and where the directory ends: at the Zip64 end record when
    // the archive has one, else at the end record; where the end record
    // ends.
    stream::size_type directory_position() const { return found_.directory_position; }
    stream::size_type end_position() const { return found_.end_position; }
    stream::size_type directory_end() const { return found_.directory_end; }
    stream::size_type after_end() const { return found_.after_end; }
    std::uint64_t total_entries() const { return found_.total_entries; }
    // The archive comment of the end record.
    const std::string& comment() const { return end_.comment; }

    // A position no local header has.
    static constexpr stream::size_type not_located = ~stream::size_type{0};

    // Block sizes for reading the records: the whole central directory,
    // and one local header with its name (longer names read on directly).
    static constexpr std::uint32_t directory_block = 65536;
    static constexpr std::uint32_t local_header_block = 4096;

private:
    // One way to read the end records: what the end record at one position
    // says, with its Zip64 records, and where that puts the directory.
    struct reading {
        stream::size_type end_position = 0;
        stream::size_type after_end = 0;
        stream::size_type directory_position = 0;
        stream::size_type directory_end = 0;
        stream::size_type directory_size = 0;
        stream::size_type directory_offset = 0;
        std::uint64_t total_entries = 0;
        // Added to local header offsets first: what the directory was found with.
        stream::size_type local_shift = 0;
        bool has_entries = false;
    };

    reading read_end_records(stream::size_type end_position, end_header& end);
    void read_zip64_end(reading& found, const end_header& end);
    // The Zip64 locator right before the end record at `end_position`;
    // false when there is none.
    bool read_locator(stream::size_type end_position, zip64_locator& locator);
    // The first of `candidates` where a Zip64 end record stands between the
    // base position and the locator at `locator_position` without running
    // into it; `end_header::not_found` when none does (nor does a candidate
    // of that value).
    stream::size_type zip64_end_among(stream::size_type locator_position,
                                      std::initializer_list<stream::size_type> candidates);
    bool probe_directory(reading& found);
    // Refuses the archive when another end record in the searched bytes
    // would be read as a directory of its own.
    void refuse_second_reading(const reading& chosen);
    // Whether a record of `length` fixed bytes beginning with `signature`
    // can stand at `at`: it lies inside the file and starts with those four
    // bytes. Failures to read pass on: they are not a record's absence.
    bool record_at(stream::size_type at, std::uint32_t length, std::uint32_t signature);
    bool header_at(stream::size_type at, local_header& header, std::uint32_t& length);
    static void take_deferred(const central_header& record, local_header& header);

    stream::fork_input* input_;
    stream::size_type base_position_;
    stream::size_type archive_end_ = end_header::not_found;
    reading found_;
    end_header end_;
};

}  // namespace format::zip
