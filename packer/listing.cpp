#include "packer/listing.h"

#include <ctime>
#include <iomanip>
#include <vector>

#include "errors/exception.h"
#include "image/image.h"
#include "io/file.h"
#include "packer/output_file.h"
#include "stream/fork_input.h"
#include "stream/output.h"
#include "zip/archive.h"
#include "zip/central_header.h"
#include "zip/item_reader.h"
#include "zip/local_header.h"

namespace quillon::pack {

namespace {

// Takes the decoded bytes and keeps only their count.
class discarding_output : public stream::output {
public:
    using stream::output::write;
    void write(const void*, std::uint32_t length) override { written_ += length; }
    void put(int) override { ++written_; }
    stream::size_type position() override { return written_; }

private:
    stream::size_type written_ = 0;
};

// The archive inside a self-extracting program (or a plain zip), found and
// read exactly as the stub finds and reads it.
class archive_view {
public:
    explicit archive_view(const std::string& path)
        : file_(io::path(any::string(path))), input_(file_.data_fork()), reader_(file_, no_events_) {
        file_.data_fork().open();
        file_.data_fork().seek(quillon::self::image(file_.path()).archive_offset());
        entries_ = reader_.list(input_);
    }
    ~archive_view() { file_.data_fork().close(false); }

    const std::vector<format::zip::central_header>& entries() const { return entries_; }

    // Decodes one entry's data into `out`, checking its CRC.
    void decode(const format::zip::central_header& entry, stream::output& out, const std::string& passphrase) {
        format::zip::local_header local;
        reader_.open_entry(input_, entry, local);
        format::zip::item_reader reader(local);
        reader.prepare(input_, passphrase);
        reader.process(input_, out);
    }

private:
    io::file file_;
    stream::fork_input input_;
    format::archive_events no_events_;
    format::zip::archive reader_;
    std::vector<format::zip::central_header> entries_;
};

std::string method_name(std::uint16_t method) {
    switch (method) {
        case 0:
            return "stored";
        case 8:
            return "deflated";
        default:
            return "method " + std::to_string(method);
    }
}

std::string local_time_text(io::time modified) {
    std::time_t seconds =
        static_cast<std::time_t>((modified.ticks() - io::time::unix_epoch) / io::time::ticks_per_second);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string name_of(const format::zip::central_header& entry) { return entry.fields.name_text.to_utf8(); }

}  // namespace

int list_entries(const std::string& path, std::ostream& out) {
    try {
        archive_view archive(path);
        out << std::setw(12) << "size"
            << "  " << std::setw(8) << "method"
            << "  " << std::setw(19) << "modified"
            << "  encrypted  name\n";
        for (const auto& entry : archive.entries()) {
            const format::zip::entry_fields& fields = entry.fields;
            out << std::setw(12) << fields.uncompressed_size << "  " << std::setw(8) << method_name(fields.method)
                << "  " << local_time_text(fields.modified) << "  " << std::setw(9)
                << (fields.encrypted() ? "yes" : "no") << "  " << name_of(entry) << "\n";
        }
        out << archive.entries().size() << " entries\n";
        return 0;
    } catch (const un::exception& e) {
        throw failure{path + ": " + un::display_text(e)};
    }
}

int test_entries(const std::string& path, const std::string& passphrase, std::ostream& out) {
    try {
        archive_view opened(path);
        std::size_t bad = 0;
        for (const auto& entry : opened.entries()) {
            const format::zip::entry_fields& fields = entry.fields;
            // The stub refuses the whole archive for one such entry, a
            // folder included.
            if (format::zip::archive::unsafe_name(fields.name)) {
                out << "UNSAFE NAME: " << name_of(entry) << "\n";
                ++bad;
                continue;
            }
            if (!format::zip::supported(fields)) {
                out << "UNSUPPORTED (" << method_name(fields.method) << "): " << name_of(entry) << "\n";
                ++bad;
                continue;
            }
            if (fields.is_directory) continue;
            if (fields.encrypted() && passphrase.empty()) {
                out << "skipped (encrypted; give --passphrase-file): " << name_of(entry) << "\n";
                ++bad;
                continue;
            }
            try {
                discarding_output sink;
                opened.decode(entry, sink, passphrase);
                out << "ok: " << name_of(entry) << "\n";
            } catch (const un::exception& e) {
                out << "DAMAGED: " << name_of(entry) << ": " << un::display_text(e) << "\n";
                ++bad;
            }
        }
        out << (bad ? "errors found in " : "no errors in ") << opened.entries().size() << " entries of " << path
            << "\n";
        return bad ? 2 : 0;
    } catch (const un::exception& e) {
        throw failure{path + ": " + un::display_text(e)};
    }
}

}  // namespace quillon::pack
