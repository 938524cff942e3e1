// The whole archive walk on arbitrary bytes: the input is written as an
// archive file and extracted into a folder nested a few levels deep in a
// scratch folder. Whatever the bytes, the reader may only end in one of its
// exceptions; it must not crash, hang, or create anything outside its
// destination (every level above it is checked after each run).
//
// The archive begins at the first local header signature within the first
// 64 bytes (at 0 when there is none), as it does behind a program, so that
// both the relative and the absolute offset probes are exercised.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "errors/exception.h"
#include "io/directory.h"
#include "io/file.h"
#include "zip/extractor.h"

namespace {

namespace fs = std::filesystem;

class answering_extractor : public format::zip::extractor {
public:
    using format::zip::extractor::extractor;
    void passphrase_needed(std::string& passphrase) override { passphrase = "secret"; }
};

struct sandbox {
    sandbox() {
        char pattern[] = "/tmp/quillon-fuzz-zip-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        guard = pattern;
        box = guard / "l1" / "l2" / "l3";
        fs::create_directories(box);
        archive = box / "archive.zip";
        destination = box / "dest";
    }
    ~sandbox() {
        std::error_code ignored;
        fs::remove_all(guard, ignored);
    }

    // Each level above the destination holds exactly what it held before.
    void check() const {
        expect_only(guard, "l1");
        expect_only(guard / "l1", "l2");
        expect_only(guard / "l1" / "l2", "l3");
        for (const auto& item : fs::directory_iterator(box))
            if (item.path() != archive && item.path() != destination) {
                std::fprintf(stderr, "written outside the destination: %s\n", item.path().c_str());
                std::abort();
            }
    }
    static void expect_only(const fs::path& folder, const char* name) {
        for (const auto& item : fs::directory_iterator(folder))
            if (item.path().filename() != name) {
                std::fprintf(stderr, "written outside the destination: %s\n", item.path().c_str());
                std::abort();
            }
    }

    fs::path guard, box, archive, destination;
};

io::path to_io(const fs::path& path) { return io::path(any::string(path.string())); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static sandbox place;
    {
        std::ofstream out(place.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::uint64_t base = 0;
    for (std::size_t i = 0; i + 4 <= size && i < 64; ++i)
        if (data[i] == 'P' && data[i + 1] == 'K' && data[i + 2] == 3 && data[i + 3] == 4) {
            base = i;
            break;
        }
    {
        io::file file(to_io(place.archive));
        file.data_fork().open();
        file.data_fork().seek(base);
        answering_extractor extractor(file);
        try {
            extractor.extract(io::directory(to_io(place.destination)));
        } catch (const un::exception&) {
            // Every failure the reader knows of ends here.
        }
        file.data_fork().close(false);
    }
    place.check();
    std::error_code ignored;
    fs::remove_all(place.destination, ignored);
    return 0;
}
