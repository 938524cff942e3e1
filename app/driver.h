// The extraction driver: owns the Zip reader through its handle, answers
// its events with the user interface (the overwrite question, the
// passphrase, the progress display) and brackets the whole extraction with
// the progress display.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "app/progress_window.h"
#include "extract/extractor.h"
#include "io/path.h"

namespace quillon::self {

class driver : public format::zip::extractor {
public:
    // `file` is the program's own file, whose data fork is open; its size
    // is the progress total. `existing` says what happens to files that
    // exist already; a non-empty `passphrase` is used for encrypted
    // entries instead of asking.
    driver(io::file& file, bool quiet, options::overwrite existing = options::overwrite::ask,
           const std::string& passphrase = "");

    // Extracts every entry below `destination`. Any failure, a cancel
    // included, removes the progress display and passes on.
    void run(const io::directory& destination);

    // When a file (or its ".info" or ".rsrc" side file, or a symbolic link)
    // exists under the entry's name: replaces or keeps it as the policy
    // says, asking while it says "ask" ("All" and "None" then settle it for
    // the rest). Then shows the name of a file that is written.
    // Each file is noted in the log, written or kept.
    bool entering(const io::path& path) override;
    void passphrase_needed(std::string& passphrase) override;
    // Before the first file: refuses a destination whose file system has
    // less free space than the files need (unless `check_space` is off).
    void starting(std::uint64_t files, std::uint64_t bytes) override;
    // -f turns it off.
    bool check_space = true;

    // The file an installer runs afterwards, by its full destination path:
    // it must be written in this run, or be one that the user chose to
    // keep in this run (No, No to All, -n), never one merely found there.
    void expect_program(const io::path& path);
    bool program_written() const { return program_written_; }
    bool program_kept() const { return program_kept_; }
    void progress(std::uint64_t position) override;

private:
    // Whether an existing file at `path` is replaced.
    bool replaces(const io::path& path);

    io::path destination_;
    std::uint64_t total_;
    bool quiet_;
    options::overwrite existing_;
    any::string program_;
    bool program_written_ = false;
    bool program_kept_ = false;
    std::uint64_t written_ = 0, kept_ = 0;
    progress_window window_;
};

}  // namespace quillon::self
