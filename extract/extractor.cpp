#include "extract/extractor.h"

#include <algorithm>

#include "errors/exception.h"
#include "extract/entry_writer.h"
#include "extract/file_entry.h"
#include "extract/file_workers.h"
#include "io/system.h"
#include "io/thread.h"
#include "zip/checksum/crc32.h"

namespace format::zip {

namespace {

// Forwards the position of the entry being read to the events.
class progress_forward : public format::progress_sink {
public:
    explicit progress_forward(archive_events& events) : events_(&events) {}
    void progress(std::uint64_t position) override { events_->progress(position); }

private:
    archive_events* events_;
};

// Ends the walk through the directory once a worker has failed: nothing
// more is handed over, and the failure is raised when they are done.
struct stop_walk {};

}  // namespace

extractor::extractor(io::file& file) : file_(&file), make_links_(io::system::has_symbolic_links) {}

void extractor::extract(const io::directory& destination) {
    io::fork& fork = file_->data_fork();
    stream::fork_input input(fork);
    input.read_ahead(file_entry::read_ahead);
    archive directory(input);
    directory.limit_to(archive_end_);
    directory.locate();
    survey check(directory, *this, passphrase, make_links_);
    check.require_file(required_file_);
    check.run(false);
    check.raise_first();
    starting(check.files(), check.bytes());
    entry_writer writer(destination);
    const std::unique_ptr<file_workers> workers = start_workers(destination, directory, check.files());
    if (!workers) {
        directory.read_directory([&](const central_header& record, std::uint64_t index) {
            extract_entry(directory, check, record, index, writer, nullptr);
        });
    } else {
        std::uint64_t current = 0;
        try {
            directory.read_directory([&](const central_header& record, std::uint64_t index) {
                if (workers->failed()) throw stop_walk();
                current = index;
                extract_entry(directory, check, record, index, writer, workers.get());
            });
        } catch (const stop_walk&) {
        } catch (const un::exception&) {
            // A cancelled question included: raised when every entry before
            // it is written, unless one of them failed.
            workers->fail(current);
        }
        workers->finish();
    }
    writer.finish();
    fork.seek(directory.after_end());
}

std::unique_ptr<file_workers> extractor::start_workers(const io::directory& destination, archive& directory,
                                                       std::uint64_t files) {
    const unsigned threads = threads_ == 0 ? io::thread::processors() : threads_;
    if (threads <= 1 || files < 2) return nullptr;
    // Chosen before any worker could race to choose it.
    algorithm::crc32::active();
    const stream::size_type base = directory.base_position();
    try {
        return std::make_unique<file_workers>(static_cast<unsigned>(std::min<std::uint64_t>(threads, files)),
                                              destination, file_->data_fork(), passphrase,
                                              [this, base](std::uint64_t consumed) { progress(base + consumed); });
    } catch (const io::exception&) {
        return nullptr;  // no thread could start: this one writes every file
    }
}

void extractor::extract_entry(archive& directory, const survey& check, const central_header& record,
                              std::uint64_t index, entry_writer& writer, file_workers* workers) {
    local_header header;
    directory.read_local_header(check.local_position(index), record, header);
    const entry_fields& fields = header.fields;
    const std::uint32_t mode = record.unix_mode() & io::item_info::permission_bits;
    if (fields.is_directory) {
        if (workers) workers->claim(fields.name, true);
        known_names_.made(writer.path_of(fields.name), fields.name.components().size());
        writer.folder(fields.name, fields.modified, mode);
        return;
    }
    if (const std::string* target = check.link_target(index)) {
        // Links are rare: made when every file before them is.
        if (workers) workers->drain();
        if (entering_name(writer, fields.name)) writer.link(fields.name, *target);
        return;
    }
    extract_file(directory, header, record, index, writer, workers);
}

void extractor::extract_file(archive& directory, const local_header& header, const central_header& record,
                             std::uint64_t index, entry_writer& writer, file_workers* workers) {
    const entry_fields& fields = header.fields;
    const auto& components = fields.name.components();
    const bool unnamed = components.empty() || (components.size() == 1 && components[0] == any::string(u"-"));
    io::path name = unnamed ? default_name() : fields.name;
    if (workers) workers->claim(name, false);
    if (!entering_name(writer, name)) return;

    stream::fork_input& input = directory.input();
    // The passphrase is asked before the file is made, so that a cancel
    // leaves nothing behind.
    naming(fields.name_text, [&] {
        if (fields.encrypted() && passphrase.empty()) passphrase_needed(passphrase);
    });
    file_entry entry(index, header, std::move(name), record.unix_mode() & io::item_info::permission_bits,
                     input.position(), !surely_new_);
    if (workers) {
        // Made here, once, not by workers racing to make it.
        writer.make_destination();
        workers->add(std::move(entry));
        return;
    }
    progress_forward forward(*this);
    entry.write(input, writer, passphrase, &forward);
}

bool extractor::entering_name(const entry_writer& writer, const io::path& name) {
    const io::path path = writer.path_of(name);
    surely_new_ = !known_names_.any_fork_may_exist(path);
    const bool enter = entering(path);
    if (enter) known_names_.made(path, name.components().size());
    return enter;
}

io::path extractor::default_name() const {
    const io::path& own = file_->path();
    io::path name;
    if (own.empty()) return name;
    any::string stem = own.stem();
    if (own.extension().empty()) stem += u".out";
    name.append(stem);
    return name;
}

}  // namespace format::zip
