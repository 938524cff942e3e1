#include "extract/extractor.h"

#include "errors/exception.h"
#include "extract/entry_writer.h"
#include "io/system.h"
#include "stream/fork_output.h"
#include "stream/progress_input.h"
#include "zip/item_reader.h"

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

// Adds the entry's name to an error about its data; the file layer's
// errors name the file they concern already, and a cancel is no error.
template <typename action>
void naming(const any::string& name, action&& act) {
    const auto add = [&](un::exception& failure) { failure.message += ": " + message_text(name); };
    try {
        act();
    } catch (format::exception& failure) {
        add(failure);
        throw;
    } catch (algorithm::exception& failure) {
        add(failure);
        throw;
    } catch (stream::exception& failure) {
        add(failure);
        throw;
    }
}

}  // namespace

extractor::extractor(io::file& file) : file_(&file), make_links_(io::system::has_symbolic_links) {}

void extractor::extract(const io::directory& destination) {
    io::fork& fork = file_->data_fork();
    stream::fork_input input(fork);
    archive directory(input);
    directory.limit_to(archive_end_);
    directory.locate();
    survey check(directory, *this, passphrase, make_links_);
    check.require_file(required_file_);
    check.run(false);
    check.raise_first();
    starting(check.files(), check.bytes());
    entry_writer writer(destination);
    directory.read_directory([&](const central_header& record, std::uint64_t index) {
        extract_entry(directory, check, record, index, writer);
    });
    writer.finish();
    fork.seek(directory.after_end());
}

void extractor::extract_entry(archive& directory, const survey& check, const central_header& record,
                              std::uint64_t index, entry_writer& writer) {
    local_header header;
    directory.read_local_header(check.local_position(index), record, header);
    const entry_fields& fields = header.fields;
    const std::uint32_t mode = record.unix_mode() & io::item_info::permission_bits;
    if (fields.is_directory) {
        writer.folder(fields.name, fields.modified, mode);
        return;
    }
    if (const std::string* target = check.link_target(index)) {
        if (entering(writer.path_of(fields.name))) writer.link(fields.name, *target);
        return;
    }
    extract_file(directory, header, record, writer);
}

void extractor::extract_file(archive& directory, const local_header& header, const central_header& record,
                             entry_writer& writer) {
    const entry_fields& fields = header.fields;
    const auto& components = fields.name.components();
    const bool unnamed = components.empty() || (components.size() == 1 && components[0] == any::string(u"-"));
    const io::path name = unnamed ? default_name() : fields.name;
    io::file target(writer.path_of(name));
    if (!entering(target.path())) return;

    stream::fork_input& input = directory.input();
    naming(fields.name_text, [&] {
        // The passphrase is asked and checked before the file is made, so
        // that a cancel or a wrong one leaves nothing behind.
        if (fields.encrypted() && passphrase.empty()) passphrase_needed(passphrase);
        item_reader reader(header);
        reader.prepare(input, passphrase);

        writer.create_file(name, target);
        try {
            stream::fork_output output(target.data_fork());
            progress_forward forward(*this);
            stream::progress_input counted(input, &forward, input.position(), progress_step);
            reader.process(counted, output);
            writer.close_file(target, fields.modified, record.unix_mode() & io::item_info::permission_bits);
            counted.finish();
        } catch (...) {
            // A file that did not come out whole (damaged data, a failed
            // authentication, a full disk, a cancel) is not left behind as
            // if it had.
            writer.discard_file(name, target);
            throw;
        }
    });
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
