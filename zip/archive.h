// The archive reader: finds the end record from the end of the file (and
// the Zip64 end record through its locator), reads and checks the whole
// central directory and every local header, then extracts every entry in
// directory order below a destination folder, telling the events it was
// given (the extractor handle's) what it does.
//
// Nothing is written before the whole archive has been checked: every
// entry can be decoded, every name stays inside the destination and agrees
// with its local header, no two entries share bytes, the counts and sizes
// of the end records agree with the records read, and (where links are
// made) no link points outside the destination and no entry lies below one.
//
// Offsets stored in the archive are tried first relative to where the
// archive begins in the file (an archive simply appended to a program) and
// then as absolute positions (one whose offsets were adjusted to the whole
// file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/directory.h"
#include "io/file.h"
#include "io/path.h"
#include "stream/fork_input.h"
#include "stream/progress_input.h"
#include "zip/archive_events.h"
#include "zip/central_header.h"
#include "zip/directory_entry.h"
#include "zip/end_header.h"
#include "zip/local_header.h"

namespace format {

// What every archive reader offers: the one operation that extracts
// everything, telling the events it was given what it does.
class archive {
public:
    // `file` and `events` are borrowed; the file's data fork is the archive.
    archive(io::file& file, archive_events& events) : file_(&file), events_(&events) {}
    archive(const archive&) = delete;
    archive& operator=(const archive&) = delete;

    // Writes every entry below `destination`.
    virtual void extract_all(const io::directory& destination) = 0;

protected:
    // Destroyed as the concrete reader, never through this base.
    ~archive() = default;

    io::file& file() { return *file_; }
    archive_events& events() { return *events_; }

private:
    io::file* file_;
    archive_events* events_;
};

namespace zip {

class archive : public format::archive, public format::progress_sink {
public:
    archive(io::file& file, archive_events& events);
    virtual ~archive() = default;

    // The data fork of the file must be open and stand where the archive
    // begins; it is left after the end record when everything went well.
    void extract_all(const io::directory& destination) override;

    // Everything `extract_all` checks before it writes the first file, with
    // the same errors, and nothing written: the number of entries. Programs
    // that take an archive in (the packer's append) refuse what the stub
    // would refuse. The fork stands where the archive begins.
    // `local_positions`, when given, receives where each entry's local
    // header was found in the file, in directory order.
    std::uint64_t check(stream::fork_input& input, std::vector<stream::size_type>* local_positions = nullptr);

    // For programs that show or test an archive without extracting it: the
    // central records in directory order, found and counted as
    // `extract_all` finds them (the fork standing where the archive begins)
    // but not checked for names or methods; none for an empty archive.
    std::vector<central_header> list(stream::fork_input& input);
    // Reads the local header of a listed entry from where `extract_all`
    // would, with the values the directory holds for it; the input then
    // stands on the entry's data.
    void open_entry(stream::fork_input& input, const central_header& record, local_header& header);

    // Where `list` or `extract_all` found the central directory's first byte
    // and the end record, in the file.
    stream::size_type directory_position() const { return directory_position_; }
    stream::size_type end_position() const { return end_position_; }
    // Where the directory ends: at the Zip64 end record when the archive
    // has one, else at the end record.
    stream::size_type directory_end() const { return directory_end_; }
    // The archive comment of the end record found last.
    const std::string& comment() const { return end_.comment; }

    // Where the archive ends when something follows it in the file (the
    // certificates of a signed program); the end of the file otherwise.
    void limit_to(stream::size_type end) { archive_end_ = end; }

    // An entry that must be in the archive as a file (the program an
    // installer runs afterwards): without it the archive is refused before
    // anything is written.
    void require_file(const io::path& name) { required_file_ = name; }

    // Whether links in the archive become links. Off, a link entry is
    // written as a file holding its target (as on Windows, whose programs
    // may not make them).
    void make_links(bool on) { make_links_ = on; }

    // Forwards the position of the entry being read to the events.
    void progress(std::uint64_t position) override { events().progress(position); }

    // Whether a name would leave the destination or name a device: a ".."
    // component (split at "/" and at "\"); on Windows also a component with
    // ":" (a drive or a stream), one made of dots and blanks only, or a
    // reserved device name such as CON or com1.txt.
    static bool unsafe_name(const io::path& name);
    // Whether a link of this name holding this target, made in the
    // destination, would point outside it: an absolute target, or one
    // whose ".." climb above the destination from the link's own folder.
    static bool link_leaves(const io::path& name, const std::string& target);

    // Asked for once while empty, then kept for every encrypted entry.
    std::string passphrase;

    // Block sizes for reading the records: the whole central directory,
    // and one local header with its name (longer names read on directly).
    static constexpr std::uint32_t directory_block = 65536;
    static constexpr std::uint32_t local_header_block = 4096;

    // Entry data between two progress reports.
    static constexpr std::uint32_t progress_step = 32768;

    // The longest link target taken: the system's own limit for a path.
    static constexpr std::uint32_t longest_link = 4095;

private:
    using entry_list = std::vector<directory_entry>;

    bool locate_directory(stream::fork_input& input);
    bool read_zip64_end(stream::fork_input& input);
    stream::size_type probe_directory(stream::fork_input& input);
    // Reads every central record in order, checking that they are as many
    // as the end record says and fill the directory exactly.
    template <typename visitor>
    void read_directory(stream::fork_input& input, visitor&& visit);
    // Whether a record of `length` fixed bytes beginning with `signature`
    // can stand at `at`: it lies inside the file and starts with those four
    // bytes. Failures to read pass on: they are not a record's absence.
    static bool record_at(stream::fork_input& input, stream::size_type at, std::uint32_t length,
                          std::uint32_t signature);

    void scan_directory(stream::fork_input& input, entry_list& entries);
    directory_entry survey_entry(stream::fork_input& input, const central_header& record,
                                 std::vector<std::pair<stream::size_type, stream::size_type>>& ranges);
    void refuse_overlaps(std::vector<std::pair<stream::size_type, stream::size_type>>& ranges) const;
    void refuse_entries_below_links(stream::fork_input& input, const std::vector<std::u16string>& links);
    std::string read_link_target(stream::fork_input& input, const directory_entry& entry);

    // Where the local header of a directory record is (its offset tried the
    // way the directory was found, then the other way); with `header`, that
    // header read too, `header_size` bytes.
    stream::size_type locate_local_header(stream::fork_input& input, stream::size_type offset,
                                          local_header* header = nullptr, std::uint32_t* header_size = nullptr);
    static bool local_header_at(stream::fork_input& input, stream::size_type at, local_header* header,
                                std::uint32_t* header_size);
    // Reads the local header at `position` and takes from the directory
    // what the header leaves to it.
    void read_entry_header(stream::fork_input& input, const directory_entry& entry, local_header& header);
    void extract_entry(stream::fork_input& input, const directory_entry& entry, const io::directory& destination);
    void extract_directory(const local_header& header, const directory_entry& entry, const io::directory& destination);
    void extract_file(stream::fork_input& input, const local_header& header, const directory_entry& entry,
                      const io::path& name, const io::directory& destination);
    void extract_link(const local_header& header, const directory_entry& entry, const io::directory& destination);
    // The name of an entry stored without one: the last component of the
    // archive file's own name without its extension; a name without an
    // extension gets ".out", so that it can never be the program itself.
    io::path default_name();
    void create_in_folder(io::item& target);
    void apply_folder_times(const io::directory& destination);
    static void refuse_unsafe(const entry_fields& fields);

    // Folders written by folder entries, with their times and modes: files
    // created in a folder later change its time, and a folder's own mode
    // may forbid writing into it, so both are applied once more at the end.
    struct written_folder {
        std::u16string name;  // as in the archive, packed
        io::time modified;
        std::uint32_t mode;  // 0: none
    };
    std::vector<written_folder> folders_;

    // The folder of the last file created.
    io::path last_folder_;
    stream::size_type base_position_ = 0;
    stream::size_type archive_end_ = end_header::not_found;
    stream::size_type end_position_ = 0;
    // The central directory: where it begins and must end (the end record,
    // or the Zip64 end record), its size and its entries.
    stream::size_type directory_position_ = 0;
    stream::size_type directory_end_ = 0;
    stream::size_type directory_size_ = 0;
    stream::size_type directory_offset_ = 0;
    std::uint64_t total_entries_ = 0;
    // Where the end record ends: the fork is left there after extracting.
    stream::size_type after_end_ = 0;
    // Added to local header offsets first: what the directory was found with.
    stream::size_type local_shift_ = 0;
    bool make_links_;
    io::path required_file_;
    end_header end_;
};

}  // namespace zip

}  // namespace format
