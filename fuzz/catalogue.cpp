// The listing and the test of `quillon-pack --list/--test` and the stubs'
// -l/-t on arbitrary bytes: the input is written as one file in a scratch
// folder, listed and tested with their output kept in memory. Whatever the
// bytes, they may only end in one of the reader's exceptions: no crash, no
// hang, and no file written (the folder is checked after each run).
#include <cstdint>
#include <filesystem>
#include <vector>

#include "errors/exception.h"
#include "fuzz/scratch.h"
#include "io/file.h"
#include "stream/vector_output.h"
#include "zip/catalogue.h"

namespace {

namespace fs = std::filesystem;

class answering_events : public format::archive_events {
public:
    void passphrase_needed(std::string& passphrase) override { passphrase = "secret"; }
};

// The program under test, alone in its folder.
struct sandbox {
    fuzz::scratch place{"catalogue"};
    const fs::path archive = place.folder() / "program.exe";
    void check() const { fuzz::scratch::expect_only(place.folder(), {"program.exe"}); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static sandbox place;
    fuzz::scratch::write(place.archive, data, size);
    // The first byte, when the input has a few, puts the archive's start and
    // an archive end limit into play, as a program and its certificates do.
    const std::uint64_t base = size > 8 ? data[0] % 32 : 0;
    const std::uint64_t end = size > 8 && (data[1] & 1) ? size - data[1] % 16 : format::zip::end_header::not_found;
    io::file file(io::path(any::string(place.archive.string())));
    file.data_fork().open();
    for (bool test : {false, true}) {
        file.data_fork().seek(base);
        answering_events events;
        format::zip::catalogue view(file, events);
        view.limit_to(end);
        std::vector<std::uint8_t> report;
        stream::vector_output out(report);
        try {
            if (test)
                view.test(out);
            else
                view.list(out);
        } catch (const un::exception&) {
            // Every failure the reader knows of ends here.
        }
    }
    file.data_fork().close(false);
    place.check();
    return 0;
}
