#include "zip/archive.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "io/link.h"
#include "io/system.h"
#include "stream/buffered_input.h"
#include "stream/fork_output.h"
#include "stream/random/vector_output.h"
#include "stream/safe_input.h"
#include "zip/item_reader.h"
#include "zip/records.h"
#include "zip/zip64_end_header.h"

namespace format {

namespace zip {

namespace {

const char* const where = "format::zip::archive";
constexpr stream::size_type nowhere = end_header::not_found;

[[noreturn]] void fail(const std::string& message) { throw format::exception(message, where); }

#ifdef _WIN32
bool is_device_name(std::u16string component) {
    // The device is named by what comes before the first dot, blanks at its
    // end ignored ("con .txt" is the console too).
    component = component.substr(0, component.find(u'.'));
    while (!component.empty() && component.back() == u' ') component.pop_back();
    for (auto& c : component)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    static const char16_t* const devices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* device : devices)
        if (component == device) return true;
    return component.size() == 4 && (component.compare(0, 3, u"COM") == 0 || component.compare(0, 3, u"LPT") == 0) &&
           component[3] >= u'1' && component[3] <= u'9';
}
#endif

bool unsafe_component(const std::u16string& component) {
    if (component == u"..") return true;
#ifdef _WIN32
    if (component.find(u':') != std::u16string::npos) return true;
    // Windows drops dots and blanks at the end of a name, so ". ." or "..."
    // could become "..".
    if (!component.empty() && component.find_first_not_of(u". ") == std::u16string::npos) return true;
    if (is_device_name(component)) return true;
#endif
    return false;
}

// The text of a name for a message, control characters escaped and a long
// one cut: the system's narrow form where it has one, UTF-8 otherwise.
std::string printable(const any::string& text) {
    const any::string shown = text.printable();
    try {
        return shown.narrow();
    } catch (const any::exception&) {
        return shown.to_utf8();
    }
}

std::string quoted(const any::string& text) { return "\"" + printable(text) + "\""; }

// a + b, or a failure when the sum does not fit: sizes and offsets from the
// records are never trusted to add up.
stream::size_type sum(stream::size_type a, stream::size_type b) {
    if (b > ~stream::size_type{0} - a) fail("sizes or offsets beyond any file");
    return a + b;
}

// A folder's name kept until the end in one string, not a list of strings:
// an archive may hold many thousands of folders. Each component is its
// length in two units, then its text.
std::u16string pack(const io::path& name) {
    std::u16string packed;
    for (const any::string& component : name.components()) {
        const std::u16string& text = component.wide();
        packed += static_cast<char16_t>(text.size() >> 16);
        packed += static_cast<char16_t>(text.size() & 0xFFFF);
        packed += text;
    }
    return packed;
}

io::path unpack(const std::u16string& packed) {
    io::path name;
    for (std::size_t at = 0; at + 2 <= packed.size();) {
        const std::size_t length = (std::size_t{packed[at]} << 16) | packed[at + 1];
        name.components().emplace_back(packed.substr(at + 2, length));
        at += 2 + length;
    }
    return name;
}

}  // namespace

archive::archive(io::file& file, archive_events& events)
    : format::archive(file, events), make_links_(io::system::has_symbolic_links) {}

bool archive::unsafe_name(const io::path& name) {
    for (const any::string& component : name.components()) {
        const std::u16string& text = component.wide();
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find_first_of(u"/\\", start);
            if (unsafe_component(text.substr(start, end - start))) return true;
            if (end == std::u16string::npos) break;
            start = end + 1;
        }
    }
    return false;
}

bool archive::link_leaves(const io::path& name, const std::string& target) {
    if (target.empty() || target[0] == '/') return true;
    // Depth below the destination of the link's folder, then of each step.
    std::size_t depth = name.components().size() > 0 ? name.components().size() - 1 : 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = target.find('/', start);
        const std::string step = target.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (step == "..") {
            if (depth == 0) return true;
            --depth;
        } else if (!step.empty() && step != ".") {
            ++depth;
        }
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

void archive::refuse_unsafe(const entry_fields& fields) {
    if (unsafe_name(fields.name)) fail("unsafe entry name " + quoted(fields.name_text));
}

void archive::extract_all(const io::directory& destination) {
    io::fork& fork = file().data_fork();
    stream::fork_input input(fork);
    entry_list entries;
    if (locate_directory(input)) scan_directory(input, entries);
    folders_.clear();
    last_folder_ = io::path();
    for (const directory_entry& entry : entries) extract_entry(input, entry, destination);
    apply_folder_times(destination);
    if (after_end_ != nowhere) fork.seek(after_end_);
}

std::uint64_t archive::check(stream::fork_input& input, std::vector<stream::size_type>* local_positions) {
    entry_list entries;
    if (locate_directory(input)) scan_directory(input, entries);
    if (local_positions)
        for (const directory_entry& entry : entries) local_positions->push_back(entry.local_position);
    return entries.size();
}

// Files created in a folder after its entry changed its time, and a folder
// whose mode forbids writing had to stay writable until now.
void archive::apply_folder_times(const io::directory& destination) {
    for (const written_folder& folder : folders_) {
        io::directory item(unpack(folder.name));
        item.path().place_under(destination.path());
        item.info().modified = folder.modified;
        item.info().has_modified = true;
        if (folder.mode != 0) {
            item.info().has_mode = true;
            item.info().mode = folder.mode;
        }
        item.apply_info();
    }
    folders_.clear();
}

template <typename visitor>
void archive::read_directory(stream::fork_input& input, visitor&& visit) {
    input.seek(directory_position_);
    // Records are read field by field: through a block buffer, not one
    // system call per field.
    stream::buffered_input buffered(input, directory_block);
    stream::safe_input safe(buffered);
    central_header record;
    stream::size_type consumed = 0;
    for (std::uint64_t i = 0; i < total_entries_; ++i) {
        if (directory_size_ - consumed < records::central_header_len)
            fail("the central directory holds fewer entries than the end record says");
        consumed += record.read(safe, true);
        if (consumed > directory_size_) fail("the central directory holds fewer entries than the end record says");
        // The visitor may read elsewhere in the file; the directory is read
        // on from where the block buffer's source stood.
        const stream::size_type resume = input.position();
        visit(record);
        if (input.position() != resume) input.seek(resume);
    }
    if (consumed != directory_size_) fail("the central directory holds more entries than the end record says");
}

std::vector<central_header> archive::list(stream::fork_input& input) {
    std::vector<central_header> records;
    if (!locate_directory(input)) return records;
    read_directory(input, [&](const central_header& record) { records.push_back(record); });
    return records;
}

void archive::open_entry(stream::fork_input& input, const central_header& record, local_header& header) {
    directory_entry entry;
    entry.local_position = locate_local_header(input, record.local_header_offset);
    entry.compressed_size = record.fields.compressed_size;
    entry.uncompressed_size = record.fields.uncompressed_size;
    entry.crc = record.fields.crc;
    read_entry_header(input, entry, header);
}

// Reads the end records; false when the archive has no directory to read
// (nothing to extract). Otherwise the input is left on the first central
// record.
bool archive::locate_directory(stream::fork_input& input) {
    base_position_ = input.position();
    after_end_ = nowhere;
    const stream::size_type end_position = end_.locate(input, base_position_, archive_end_);
    if (end_position == nowhere) fail("cannot locate the end header");
    directory_position_ = directory_end_ = end_position_ = end_position;
    total_entries_ = directory_size_ = 0;

    input.seek(end_position);
    {
        stream::safe_input safe(input);
        end_.read(safe, true);
    }
    after_end_ = input.position();
    if (end_.this_disk != 0) fail("segmented multi-part archives are not supported");
    total_entries_ = end_.total_entries;
    directory_size_ = end_.directory_size;
    directory_offset_ = end_.directory_offset;
    read_zip64_end(input);

    if (total_entries_ == 0 && directory_size_ == 0) {
        directory_position_ = directory_end_;  // an empty directory, right before its end records
        return false;
    }
    // Every central record takes at least its fixed bytes: a count that
    // needs more than the directory holds is refused before any record is
    // read or any memory is taken for them.
    if (total_entries_ == 0 || total_entries_ > directory_size_ / records::central_header_len)
        fail("the central directory holds fewer entries than the end record says");

    const stream::size_type directory = probe_directory(input);
    if (directory == nowhere) fail("cannot locate the central directory");
    directory_position_ = directory;
    input.seek(directory);
    return true;
}

// The Zip64 end record, found through the locator right before the end
// record; its count, size and offset replace the classic ones. False when
// the archive has none.
bool archive::read_zip64_end(stream::fork_input& input) {
    if (end_position_ - base_position_ < records::zip64_locator_len) return false;
    const stream::size_type locator_position = end_position_ - records::zip64_locator_len;
    if (!record_at(input, locator_position, records::zip64_locator_len, records::zip64_locator_signature)) return false;
    zip64_locator locator;
    input.seek(locator_position);
    {
        stream::safe_input safe(input);
        locator.read(safe, true);
    }
    if (locator.end_disk != 0 || locator.total_disks > 1) fail("segmented multi-part archives are not supported");

    // Its offset counts either way, as the directory's does; the record
    // ends where the locator begins when nothing follows it.
    const stream::size_type size = input.size();
    zip64_end_header record;
    stream::size_type found = nowhere;
    for (const stream::size_type shift : {base_position_, stream::size_type{0}}) {
        if (locator.end_offset > size - shift) continue;
        const stream::size_type at = shift + locator.end_offset;
        // A record running into the locator is not one.
        if (at < base_position_ || at > locator_position || locator_position - at < records::zip64_end_len) continue;
        if (record_at(input, at, records::zip64_end_len, records::zip64_end_signature)) {
            found = at;
            break;
        }
    }
    if (found == nowhere) fail("cannot locate the Zip64 end record");
    input.seek(found);
    {
        stream::safe_input safe(input);
        record.read(safe, true);
    }
    if (record.this_disk != 0 || record.directory_disk != 0) fail("segmented multi-part archives are not supported");
    total_entries_ = record.total_entries;
    directory_size_ = record.directory_size;
    directory_offset_ = record.directory_offset;
    directory_end_ = found;
    return true;
}

// The offsets of an archive count either from where it begins in the file
// (appended as it was) or from the start of the file (adjusted). The
// directory ends where the end record begins, which tells the two apart when
// they differ; local headers are then looked for the same way first. Trying
// the other way first would read a stored entry's data as a header whenever
// another entry's header lies just that far on, and extract the wrong entry.
stream::size_type archive::probe_directory(stream::fork_input& input) {
    const stream::size_type size = input.size();
    if (directory_offset_ > size || directory_size_ > size) return nowhere;
    const stream::size_type absolute = directory_offset_;
    const bool relative_possible = directory_offset_ <= size - base_position_;
    const stream::size_type relative = relative_possible ? base_position_ + directory_offset_ : nowhere;
    const bool absolute_fits = absolute + directory_size_ == directory_end_;
    const bool relative_fits = relative_possible && relative + directory_size_ == directory_end_;
    const bool absolute_first = absolute_fits && !relative_fits;
    for (stream::size_type q : {absolute_first ? absolute : relative, absolute_first ? relative : absolute}) {
        // The directory lies in front of its end records, never in the
        // comment or across them.
        if (q == nowhere || q > directory_end_ || directory_end_ - q < directory_size_) continue;
        if (record_at(input, q, records::central_header_len, records::central_signature)) {
            local_shift_ = q == relative ? base_position_ : 0;
            return q;
        }
    }
    return nowhere;
}

bool archive::record_at(stream::fork_input& input, stream::size_type at, std::uint32_t length,
                        std::uint32_t signature) {
    const stream::size_type size = input.size();
    if (at > size || size - at < length) return false;
    input.seek(at);
    records::signature_bytes found;
    header::read_signature(input, found);
    return header::signature_is(found, signature);
}

// Every record and every local header is read and checked before anything
// is created, so that an archive with one refused entry extracts nothing.
void archive::scan_directory(stream::fork_input& input, entry_list& entries) {
    std::vector<std::pair<stream::size_type, stream::size_type>> ranges;
    std::vector<std::u16string> links;
    bool required_found = required_file_.empty();
    read_directory(input, [&](const central_header& record) {
        if (!supported(record.fields)) fail("unsupported compression method");
        refuse_unsafe(record.fields);
        entries.push_back(survey_entry(input, record, ranges));
        directory_entry& entry = entries.back();
        if (!required_found && !record.fields.is_directory && !entry.is_link &&
            record.fields.name.components() == required_file_.components())
            required_found = true;
        if (entry.is_link) {
            entry.link_target = read_link_target(input, entry);
            if (link_leaves(record.fields.name, entry.link_target))
                fail("symbolic link " + quoted(record.fields.name_text) + " points outside the destination");
            links.push_back(pack(record.fields.name));
        }
    });
    if (!required_found)
        fail("the program to run, " + quoted(required_file_.join()) + ", is not a file of the archive");
    ranges.emplace_back(directory_position_, directory_end_);
    refuse_overlaps(ranges);
    if (!links.empty()) refuse_entries_below_links(input, links);
}

// Finds and checks the entry's local header: it must agree with the
// directory, and its bytes are where no other entry's are.
directory_entry archive::survey_entry(stream::fork_input& input, const central_header& record,
                                      std::vector<std::pair<stream::size_type, stream::size_type>>& ranges) {
    directory_entry entry;
    local_header header;
    std::uint32_t header_size = 0;
    entry.local_position = locate_local_header(input, record.local_header_offset, &header, &header_size);
    entry.compressed_size = record.fields.compressed_size;
    entry.uncompressed_size = record.fields.uncompressed_size;
    entry.crc = record.fields.crc;
    entry.exact_time = record.fields.exact_time;
    entry.modified = record.fields.modified;
    entry.unix_mode = record.unix_mode();
    entry.is_link = make_links_ && record.is_link();

    if (!header.valid()) fail("bad local header");
    if (!supported(header.fields)) fail("unsupported compression method");
    // What a listing shows must be what is written.
    if (header.fields.name_text != record.fields.name_text)
        fail("file name in directory " + quoted(record.fields.name_text) + " and header " +
             quoted(header.fields.name_text) + " differ");
    ranges.emplace_back(entry.local_position, sum(sum(entry.local_position, header_size), entry.compressed_size));
    return entry;
}

// Two entries that share bytes (one's data quoting the next one's header,
// the way small archives are made to expand into huge ones) or an entry
// inside the directory: no honest writer makes them.
void archive::refuse_overlaps(std::vector<std::pair<stream::size_type, stream::size_type>>& ranges) const {
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second) fail("entries overlap each other or the central directory");
}

// An entry whose name passes through a link that the archive makes would be
// written wherever that link points.
void archive::refuse_entries_below_links(stream::fork_input& input, const std::vector<std::u16string>& links) {
    std::vector<std::u16string> sorted = links;
    std::sort(sorted.begin(), sorted.end());
    read_directory(input, [&](const central_header& record) {
        const auto& components = record.fields.name.components();
        io::path prefix;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            prefix.components().push_back(components[i]);
            if (std::binary_search(sorted.begin(), sorted.end(), pack(prefix)))
                fail("entry " + quoted(record.fields.name_text) + " lies below a symbolic link of the archive");
        }
    });
}

// A link's target is its data, decoded and checked like any entry's.
std::string archive::read_link_target(stream::fork_input& input, const directory_entry& entry) {
    if (entry.uncompressed_size > longest_link) fail("symbolic link target too long");
    local_header header;
    read_entry_header(input, entry, header);
    if (header.fields.encrypted() && passphrase.empty()) events().passphrase_needed(passphrase);
    std::vector<std::uint8_t> bytes;
    stream::random::vector_output target(bytes);
    item_reader reader(header);
    reader.prepare(input, passphrase);
    reader.process(input, target);
    return std::string(bytes.begin(), bytes.end());
}

stream::size_type archive::locate_local_header(stream::fork_input& input, stream::size_type offset,
                                               local_header* header, std::uint32_t* header_size) {
    const stream::size_type other_shift = local_shift_ == base_position_ ? 0 : base_position_;
    for (stream::size_type shift : {local_shift_, other_shift}) {
        if (offset > ~stream::size_type{0} - shift) continue;
        if (local_header_at(input, shift + offset, header, header_size)) return shift + offset;
    }
    fail("cannot locate a local header");
}

// One block read at `at`: its first four bytes tell whether a local header
// starts there, and the header is read from the same block.
bool archive::local_header_at(stream::fork_input& input, stream::size_type at, local_header* header,
                              std::uint32_t* header_size) {
    const stream::size_type size = input.size();
    if (at > size || size - at < records::local_header_len) return false;
    input.seek(at);
    stream::buffered_input buffered(input, local_header_block);
    buffered.refill();
    records::signature_bytes found{};
    std::memcpy(found.bytes, buffered.data(), std::min<std::uint32_t>(4, buffered.available()));
    if (!header::signature_is(found, records::local_signature)) return false;
    if (header) {
        stream::safe_input safe(buffered);
        const std::uint32_t consumed = header->read(safe, true);
        if (header_size) *header_size = consumed;
    }
    return true;
}

void archive::read_entry_header(stream::fork_input& input, const directory_entry& entry, local_header& header) {
    input.seek(entry.local_position);
    stream::buffered_input buffered(input, local_header_block);
    {
        stream::safe_input safe(buffered);
        header.read(safe, true);
    }
    buffered.give_back();  // the entry's data starts right after the header
    if (!header.valid()) fail("bad local header");
    entry_fields& fields = header.fields;
    // What the header leaves to a descriptor after the data, the directory
    // holds; so does it the size a header left at 0.
    if (fields.has_descriptor()) {
        fields.crc = entry.crc;
        fields.compressed_size = entry.compressed_size;
    }
    if (fields.has_descriptor() || (fields.uncompressed_size == 0 && entry.uncompressed_size != 0))
        fields.uncompressed_size = entry.uncompressed_size;
    if (!fields.exact_time && entry.exact_time) {
        fields.modified = entry.modified;
        fields.exact_time = true;
    }
}

void archive::extract_entry(stream::fork_input& input, const directory_entry& entry, const io::directory& destination) {
    local_header header;
    read_entry_header(input, entry, header);
    // Checked in the survey already; a local header is never trusted alone.
    refuse_unsafe(header.fields);
    if (header.fields.is_directory) {
        extract_directory(header, entry, destination);
        return;
    }
    if (entry.is_link) {
        extract_link(header, entry, destination);
        return;
    }
    const auto& components = header.fields.name.components();
    const bool unnamed = components.empty() || (components.size() == 1 && components[0] == any::string(u"-"));
    extract_file(input, header, entry, unnamed ? default_name() : header.fields.name, destination);
}

void archive::extract_directory(const local_header& header, const directory_entry& entry,
                                const io::directory& destination) {
    io::path path = header.fields.name;
    path.place_under(destination.path());
    io::directory folder(path);
    folder.create_parent();
    folder.create(true);
    // A file of that name (an earlier entry's) keeps the folder from being
    // made; its entries could only fail later, or land elsewhere.
    if (!folder.path().empty() && !folder.is_directory())
        fail("cannot create the folder " + quoted(path.join()) + ": something else of that name exists");
    folder.info().modified = header.fields.modified;
    folder.info().has_modified = true;
    folder.apply_info();
    folders_.push_back(
        {pack(header.fields.name), header.fields.modified, entry.unix_mode & io::item_info::permission_bits});
}

io::path archive::default_name() {
    const io::path& own = file().path();
    io::path name;
    if (own.empty()) return name;
    any::string stem = own.stem();
    if (own.extension().empty()) stem += u".out";
    name.append(stem);
    return name;
}

// Entries come folder by folder: when the previous file went to the same
// folder, the folder is not looked for again. Should it have gone since,
// the creation fails and the folder is made as for any other.
void archive::create_in_folder(io::item& target) {
    const io::path folder = target.path().parent();
    if (!last_folder_.empty() && folder == last_folder_) {
        try {
            target.create(true);
            return;
        } catch (const io::exception&) {
            // Made again below, with the complete error if that fails too.
        }
    }
    target.create_with_parents(true);
    last_folder_ = folder;
}

void archive::extract_file(stream::fork_input& input, const local_header& header, const directory_entry& entry,
                           const io::path& name, const io::directory& destination) {
    io::path path = name;
    path.place_under(destination.path());
    io::file target(path);
    if (!events().entering(target.path())) return;

    // The passphrase is asked and checked before the file is made, so that
    // a cancel or a wrong one leaves nothing behind.
    if (header.fields.encrypted() && passphrase.empty()) events().passphrase_needed(passphrase);
    item_reader reader(header);
    reader.prepare(input, passphrase);

    create_in_folder(target);
    stream::fork_output output(target.data_fork());
    stream::progress_input counted(input, this, input.position(), progress_step);
    reader.process(counted, output);

    // On the open file: no second walk of the path, and nothing through a
    // link that might have taken its place.
    target.info().modified = header.fields.modified;
    target.info().has_modified = true;
    if (entry.unix_mode != 0) {
        target.info().has_mode = true;
        target.info().mode = entry.unix_mode & io::item_info::permission_bits;
    }
    target.data_fork().apply_info(target.info());
    target.data_fork().close(false);
    counted.finish();
}

void archive::extract_link(const local_header& header, const directory_entry& entry, const io::directory& destination) {
    io::path path = header.fields.name;
    path.place_under(destination.path());
    io::link link(path, entry.link_target);
    if (!events().entering(link.path())) return;
    create_in_folder(link);
}

}  // namespace zip

}  // namespace format
