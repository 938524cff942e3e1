#include "packer/listing.h"

#include "errors/exception.h"
#include "image/image.h"
#include "io/file.h"
#include "packer/output_file.h"
#include "stream/output.h"
#include "zip/archive_events.h"
#include "zip/catalogue.h"

namespace quillon::pack {

namespace {

// The catalogue's report lines into a C++ stream.
class ostream_output : public stream::output {
public:
    explicit ostream_output(std::ostream& out) : out_(out) {}
    using stream::output::write;
    void write(const void* bytes, std::uint32_t length) override {
        out_.write(static_cast<const char*>(bytes), length);
        written_ += length;
    }
    void put(int byte) override {
        out_.put(static_cast<char>(byte));
        ++written_;
    }
    stream::size_type position() override { return written_; }
    void flush() override { out_.flush(); }

private:
    std::ostream& out_;
    stream::size_type written_ = 0;
};

// The archive inside a self-extracting program (or a plain zip), found as
// the stub finds it: from the end of the program's image to the start of
// its certificates, when it is a signed Windows program.
template <typename action>
int inspect(const std::string& path, action&& act) {
    try {
        io::file file{io::path(any::string(path))};
        const quillon::self::image program(file.path());
        file.data_fork().open();
        file.data_fork().seek(program.archive_offset());
        format::archive_events no_events;
        format::zip::catalogue view(file, no_events);
        view.limit_to(program.archive_end());
        const int code = act(view);
        file.data_fork().close(false);
        return code;
    } catch (const un::exception& e) {
        throw failure{path + ": " + un::display_text(e)};
    }
}

}  // namespace

int list_entries(const std::string& path, bool human_sizes, std::ostream& out) {
    return inspect(path, [&](format::zip::catalogue& view) {
        ostream_output lines(out);
        view.human_sizes = human_sizes;
        view.list(lines);
        return 0;
    });
}

int test_entries(const std::string& path, std::string_view passphrase, std::ostream& out) {
    return inspect(path, [&](format::zip::catalogue& view) {
        ostream_output lines(out);
        view.passphrase.assign(passphrase.data(), passphrase.size());
        return view.test(lines) == 0 ? 0 : 2;
    });
}

}  // namespace quillon::pack
