// The extraction driver: owns the Zip reader through its handle, answers
// its events with the user interface (the overwrite question, the
// passphrase, the progress display) and brackets the whole extraction with
// the progress display.
#pragma once

#include <cstdint>
#include <string>

#include "app/progress_window.h"
#include "zip/extractor.h"

namespace io {
class directory;
class file;
class path;
}  // namespace io

namespace quillon::self {

class driver : public format::zip::extractor {
public:
    // `file` is the program's own file, whose data fork is open; its size
    // is the progress total.
    driver(io::file& file, bool quiet);

    // Extracts every entry below `destination`. Any failure, a cancel
    // included, removes the progress display and passes on.
    void run(const io::directory& destination);

    // Asks before an existing file (or its ".info" or ".rsrc" side file) is
    // replaced; refusing raises quillon::self::evacuation "file already
    // exists". Then shows the name.
    bool entering(const io::path& path) override;
    void passphrase_needed(std::string& passphrase) override;
    void progress(std::uint64_t position) override;

private:
    std::uint64_t total_;
    bool quiet_;
    progress_window window_;
};

}  // namespace quillon::self
