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
#include <filesystem>

#include "errors/exception.h"
#include "extract/extractor.h"
#include "fuzz/scratch.h"
#include "io/directory.h"
#include "io/file.h"

namespace {

namespace fs = std::filesystem;

class answering_extractor : public format::zip::extractor {
public:
    using format::zip::extractor::extractor;
    void passphrase_needed(std::string& passphrase) override { passphrase = "secret"; }
};

// The destination three levels down, so that a climb out of it shows.
struct sandbox {
    sandbox() { fs::create_directories(box); }

    // Each level above the destination holds exactly what it held before.
    void check() const {
        fuzz::scratch::expect_only(place.folder(), {"l1"});
        fuzz::scratch::expect_only(place.folder() / "l1", {"l2"});
        fuzz::scratch::expect_only(place.folder() / "l1" / "l2", {"l3"});
        fuzz::scratch::expect_only(box, {"archive.zip", "dest"});
    }

    fuzz::scratch place{"zip"};
    const fs::path box = place.folder() / "l1" / "l2" / "l3";
    const fs::path archive = box / "archive.zip";
    const fs::path destination = box / "dest";
};

io::path to_io(const fs::path& path) { return io::path(any::string(path.string())); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static sandbox place;
    fuzz::scratch::write(place.archive, data, size);
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
