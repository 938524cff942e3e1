// The public handle on the extraction of a Zip archive: the application
// owns it and hears from it through its event hooks (format::archive_events),
// which the extraction calls in the middle of its work. The handle's own
// hooks do nothing; an application derives from it and overrides what it
// needs.
//
// An extraction reads the archive's directory (zip/archive.h), surveys the
// whole archive before anything is written and refuses it with the first
// reason found (zip/survey.h), then writes every entry in directory order
// (extract/entry_writer.h), the files on worker threads when more than one
// is asked for. An error about one entry names it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/directory.h"
#include "io/file.h"
#include "io/name_index.h"
#include "io/path.h"
#include "stream/fork_input.h"
#include "zip/archive.h"
#include "zip/archive_events.h"
#include "zip/survey.h"

namespace format::zip {

class entry_writer;
class file_workers;

class extractor : public format::archive_events {
public:
    // `file` is borrowed and must outlive the handle; its data fork is the
    // archive.
    explicit extractor(io::file& file);

    // Extracts every entry below `destination`. The file's data fork must be
    // open and stand where the archive begins; it is left after the end
    // record when everything went well.
    void extract(const io::directory& destination);
    // The archive ends at `end` of the file, not at the file's end (a signed
    // program's certificates follow it).
    void limit_archive(std::uint64_t end) { archive_end_ = end; }
    // The archive must hold `name` as a file, or it is refused before
    // anything is written.
    void require_file(const io::path& name) { required_file_ = name; }
    // Whether links in the archive become links. Off, a link entry is
    // written as a file holding its target (as on Windows, whose programs
    // may not make them).
    void make_links(bool on) { make_links_ = on; }

    // How many threads write files: 1 writes them one after another on the
    // caller's thread, more hand them to as many workers
    // (extract/file_workers.h), 0 one per processor.
    void threads(unsigned count) { threads_ = count; }

    // Asked for once while empty, then kept for every encrypted entry.
    std::string passphrase;

protected:
    // For the entry last `entering`ed: true when nothing of its name (nor a
    // side file of it) existed in its folder when the extraction first
    // looked, and the extraction has made nothing of that name since. Such
    // an entry is created without replacing anything, so a file someone
    // else makes there meanwhile is an error, never overwritten.
    bool surely_new() const { return surely_new_; }

private:
    // The workers that write the files, or none when one thread does.
    std::unique_ptr<file_workers> start_workers(const io::directory& destination, archive& directory,
                                                std::uint64_t files);
    void extract_entry(archive& directory, const survey& check, const central_header& record, std::uint64_t index,
                       entry_writer& writer, file_workers* workers);
    void extract_file(archive& directory, const local_header& header, const central_header& record, std::uint64_t index,
                      entry_writer& writer, file_workers* workers);
    // `entering` for the entry written as `name` below the destination,
    // with what is known of its name (`surely_new`); a name entered counts
    // as made.
    bool entering_name(const entry_writer& writer, const io::path& name);
    // The name of an entry stored without one: the last component of the
    // archive file's own name without its extension; a name without an
    // extension gets ".out", so that it can never be the program itself.
    io::path default_name() const;

    io::file* file_;
    stream::size_type archive_end_ = end_header::not_found;
    io::path required_file_;
    bool make_links_;
    unsigned threads_ = 1;
    io::name_index known_names_;
    bool surely_new_ = false;
};

}  // namespace format::zip
