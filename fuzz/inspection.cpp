// The listing and the test of `quillon-pack --list/--test` and the stubs'
// -l/-t on arbitrary bytes: the input is written as one file in a scratch
// folder, listed and tested with their output kept in memory. Whatever the
// bytes, they may only end in one of the reader's exceptions: no crash, no
// hang, and no file written (the folder is checked after each run).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "errors/exception.h"
#include "io/file.h"
#include "stream/vector_output.h"
#include "zip/inspection.h"

namespace {

namespace fs = std::filesystem;

class answering_events : public format::archive_events {
public:
    void passphrase_needed(std::string& passphrase) override { passphrase = "secret"; }
};

struct sandbox {
    sandbox() {
        char pattern[] = "/tmp/quillon-fuzz-inspection-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        folder = pattern;
        archive = folder / "program.exe";
    }
    ~sandbox() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    void check() const {
        for (const auto& item : fs::directory_iterator(folder))
            if (item.path() != archive) std::abort();
    }
    fs::path folder, archive;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static sandbox place;
    {
        std::ofstream out(place.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    // The first byte, when the input has a few, puts the archive's start and
    // an archive end limit into play, as a program and its certificates do.
    const std::uint64_t base = size > 8 ? data[0] % 32 : 0;
    const std::uint64_t end = size > 8 && (data[1] & 1) ? size - data[1] % 16 : format::zip::end_header::not_found;
    io::file file(io::path(any::string(place.archive.string())));
    file.data_fork().open();
    for (bool test : {false, true}) {
        file.data_fork().seek(base);
        answering_events events;
        format::zip::inspection view(file, events);
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
