#include "zip/archive.h"

#include "errors/exception.h"
#include "stream/buffered_input.h"
#include "stream/fork_output.h"
#include "stream/safe_input.h"
#include "zip/item_reader.h"
#include "zip/records.h"

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

// The text of a name for a message: the system's narrow form where it has
// one, UTF-8 otherwise.
std::string printable(const any::string& text) {
    try {
        return text.narrow();
    } catch (const any::exception&) {
        return text.to_utf8();
    }
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

void archive::refuse_unsafe(const entry_fields& fields) {
    if (unsafe_name(fields.name)) fail("unsafe entry name \"" + printable(fields.name_text) + "\"");
}

void archive::extract_all(const io::directory& destination) {
    io::fork& fork = file().data_fork();
    stream::fork_input input(fork);
    entry_list entries;
    if (locate_directory(input)) scan_directory(input, entries);
    folders_.clear();
    last_folder_ = io::path();
    for (const directory_entry& entry : entries) extract_entry(input, entry, destination);
    // Files created in a folder after its entry changed its time.
    for (const auto& [name, modified] : folders_) {
        io::directory item(unpack(name));
        item.path().place_under(destination.path());
        item.info().modified = modified;
        item.info().has_modified = true;
        item.apply_info();
    }
    folders_.clear();
    if (after_end_ != nowhere) fork.seek(after_end_);
}

std::vector<central_header> archive::list(stream::fork_input& input) {
    std::vector<central_header> records;
    if (!locate_directory(input)) return records;
    stream::buffered_input buffered(input, directory_block);
    stream::safe_input safe(buffered);
    for (std::uint32_t i = 0; i < end_.total_entries; ++i) {
        records.emplace_back();
        records.back().read(safe, true);
    }
    return records;
}

void archive::open_entry(stream::fork_input& input, const central_header& record, local_header& header) {
    read_entry_header(input, {record.local_header_offset, record.fields.compressed_size, record.fields.crc}, header);
}

// Reads the end record; false when the archive has no directory to read
// (nothing to extract). Otherwise the input is left on the first central
// record.
bool archive::locate_directory(stream::fork_input& input) {
    base_position_ = input.position();
    after_end_ = nowhere;
    const stream::size_type end_position = end_.locate(input, base_position_, archive_end_);
    if (end_position == nowhere) fail("cannot locate the end header");
    directory_position_ = end_position_ = end_position;
    if (end_position == 0) return false;

    input.seek(end_position);
    {
        stream::safe_input safe(input);
        end_.read(safe, true);
    }
    after_end_ = input.position();
    if (end_.this_disk != 0) fail("segmented multi-part archives are not supported");
    if (end_.directory_size == 0) return false;

    const stream::size_type directory = probe_directory(input, end_position);
    if (directory == nowhere) fail("cannot locate the central directory");
    directory_position_ = directory;
    input.seek(directory);
    return true;
}

// The offsets of an archive count either from where it begins in the file
// (appended as it was) or from the start of the file (adjusted). The
// directory ends where the end record begins, which tells the two apart when
// they differ; local headers are then looked for the same way first. Trying
// the other way first would read a stored entry's data as a header whenever
// another entry's header lies just that far on, and extract the wrong entry.
stream::size_type archive::probe_directory(stream::fork_input& input, stream::size_type end_position) {
    const stream::size_type relative = base_position_ + end_.directory_offset;
    const stream::size_type absolute = end_.directory_offset;
    const bool absolute_fits = absolute + end_.directory_size == end_position;
    const bool relative_fits = relative + end_.directory_size == end_position;
    const bool absolute_first = absolute_fits && !relative_fits;
    for (stream::size_type q : {absolute_first ? absolute : relative, absolute_first ? relative : absolute}) {
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

// Every record is read and checked before anything is created, so that an
// archive with one refused entry extracts nothing.
void archive::scan_directory(stream::fork_input& input, entry_list& entries) {
    // Records are read field by field: through a block buffer, not one
    // system call per field.
    stream::buffered_input buffered(input, directory_block);
    stream::safe_input safe(buffered);
    central_header record;
    for (std::uint32_t i = 0; i < end_.total_entries; ++i) {
        record.read(safe, true);
        if (!supported(record.fields)) fail("unsupported compression method");
        refuse_unsafe(record.fields);
        entries.push_back({record.local_header_offset, record.fields.compressed_size, record.fields.crc});
    }
}

void archive::read_local_header(stream::fork_input& input, const directory_entry& entry, local_header& header) {
    const stream::size_type other_shift = local_shift_ == base_position_ ? 0 : base_position_;
    for (stream::size_type at : {local_shift_ + entry.local_header_offset, other_shift + entry.local_header_offset}) {
        if (!record_at(input, at, records::local_header_len, records::local_signature)) continue;
        input.seek(at);
        stream::buffered_input buffered(input, local_header_block);
        stream::safe_input safe(buffered);
        header.read(safe, true);
        buffered.give_back();  // the entry's data starts right after the header
        return;
    }
    fail("cannot locate a local header");
}

// The local header with the sizes of the central record when the header
// leaves them to a descriptor after the data.
void archive::read_entry_header(stream::fork_input& input, const directory_entry& entry, local_header& header) {
    read_local_header(input, entry, header);
    if (!header.valid()) fail("bad local header");
    if (header.fields.has_descriptor()) {
        header.fields.crc = entry.crc;
        header.fields.compressed_size = entry.compressed_size;
    }
}

void archive::extract_entry(stream::fork_input& input, const directory_entry& entry, const io::directory& destination) {
    local_header header;
    read_entry_header(input, entry, header);
    // The local name may differ from the central one that was checked.
    refuse_unsafe(header.fields);
    if (header.fields.is_directory) {
        extract_directory(header, destination);
        return;
    }
    const auto& components = header.fields.name.components();
    const bool unnamed = components.empty() || (components.size() == 1 && components[0] == any::string(u"-"));
    extract_file(input, header, unnamed ? default_name() : header.fields.name, destination);
}

void archive::extract_directory(const local_header& header, const io::directory& destination) {
    io::path path = header.fields.name;
    path.place_under(destination.path());
    io::directory folder(path);
    folder.create_parent();
    folder.create(true);
    folder.info().modified = header.fields.modified;
    folder.info().has_modified = true;
    folder.apply_info();
    folders_.emplace_back(pack(header.fields.name), header.fields.modified);
}

io::path archive::default_name() {
    const io::path& own = file().path();
    if (own.empty()) return own;
    const any::string extension = own.extension();
    if (extension == any::string(u".zip") || extension == any::string(u".ZIP")) {
        io::path name;
        name.append(own.stem());
        return name;
    }
    return own;
}

// Entries come folder by folder: when the previous file went to the same
// folder, the folder is not looked for again. Should it have gone since,
// the creation fails and the folder is made as for any other.
void archive::create_in_folder(io::file& target) {
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

void archive::extract_file(stream::fork_input& input, const local_header& header, const io::path& name,
                           const io::directory& destination) {
    io::path path = name;
    path.place_under(destination.path());
    io::file target(path);
    stream::fork_output output(target.data_fork());

    if (!events().entering(target.path())) return;
    create_in_folder(target);
    if (header.fields.encrypted() && passphrase.empty()) events().passphrase_needed(passphrase);

    stream::progress_input counted(input, this, input.position(), progress_step);
    item_reader reader(header);
    reader.prepare(input, passphrase);
    reader.process(counted, output);
    target.data_fork().close(false);

    target.info().modified = header.fields.modified;
    target.info().has_modified = true;
    target.apply_info();
    counted.finish();
}

}  // namespace zip

}  // namespace format
