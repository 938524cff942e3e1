// Looking inside an archive without extracting it: the listing and the test
// that quillon-pack's --list and --test and the stubs' -l and -t print. One
// implementation for all of them, so that the same program gets the same
// answers from each.
//
// The archive is found and read as extraction finds and reads it; the test
// also refuses what extraction would refuse (a name that leaves the
// destination, a method it cannot decode). Reports are lines of UTF-8 text
// written to a stream::output; every entry name passes through
// any::string::printable, so that a name cannot move a terminal's cursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/file.h"
#include "stream/fork_input.h"
#include "stream/output.h"
#include "zip/archive.h"
#include "zip/archive_events.h"
#include "zip/central_header.h"
#include "zip/survey.h"

namespace format::zip {

class catalogue {
public:
    // `file` and `events` are borrowed. The file's data fork must be open
    // and stand where the archive begins. `events` is asked for the
    // passphrase (passphrase_needed) when the test meets the first
    // encrypted entry while `passphrase` is empty; its other hooks are not
    // used.
    catalogue(io::file& file, archive_events& events);

    // The archive ends at `end` of the file (a signed program's
    // certificates follow it); end_header::not_found for the file's end.
    void limit_to(stream::size_type end) { end_ = end; }

    // Writes a heading, one line per entry (size, compressed size, method,
    // modification time in local time to the minute, whether it is
    // encrypted when the archive has encrypted entries, the Unix mode when
    // it carries modes, then the name, and " -> TARGET" for a symbolic
    // link), and under them the total sizes and the number of entries.
    // Columns are as wide as their widest value; the name comes last, so
    // that a line of an archive of ordinary names fits 80 columns. Throws
    // when the archive cannot be read.
    void list(stream::output& out);
    // The listing's sizes as "1.2 MB" rather than in bytes.
    bool human_sizes = false;

    // Decodes every file entry without writing it anywhere and checks its
    // CRC; one line per entry ("ok: NAME", "BAD PASSPHRASE: NAME" when the
    // entry's check refuses the passphrase, or what is wrong with it, as the
    // survey of extraction finds it or decoding does), a line "REFUSED: ..."
    // for each reason extraction would refuse the archive as a whole
    // (entries sharing bytes, for one), and a summary. Returns the number of entries found wrong. Throws when the
    // archive itself cannot be read (no end record, a damaged directory)
    // and when passphrase_needed does (a cancelled question).
    std::size_t test(stream::output& out);

    // Used for every encrypted entry; asked for once while empty.
    std::string passphrase;

    // The columns of a listing line, for the tests: `text` right- or
    // left-aligned in `width` columns (never cut), and a time as
    // "YYYY-MM-DD hh:mm" in local time.
    static std::string right_aligned(const std::string& text, std::size_t width);
    static std::string left_aligned(const std::string& text, std::size_t width);
    static std::string local_time_text(io::time modified);
    static std::string method_name(std::uint16_t method);

private:
    // A size in bytes, or as people read it with human_sizes.
    std::string size_column(std::uint64_t bytes) const;
    // A link entry's target, shown; "?" when it cannot be read without a
    // passphrase or at all.
    static std::string link_target(archive& directory, const central_header& entry);
    // One entry's result line; true when the entry is good.
    bool test_entry(archive& directory, const central_header& entry, stream::size_type local_position,
                    stream::output& out);
    static void refused_line(const refusal& found, const central_header& entry, stream::output& out);
    // A fresh look at the archive from where it begins.
    void rewind() { input_.seek(begin_); }

    archive_events* events_;
    stream::fork_input input_;
    stream::size_type begin_;
    stream::size_type end_ = end_header::not_found;
};

}  // namespace format::zip
