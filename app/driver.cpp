#include "app/driver.h"

#include "app/overwrite_question.h"
#include "app/passphrase_dialog.h"
#include "app/run_log.h"
#include "errors/exception.h"
#include "io/directory.h"
#include "io/file.h"
#include "io/system.h"
#include "io/text/size_text.h"

namespace quillon::self {

driver::driver(io::file& file, bool quiet, options::overwrite existing, const std::string& passphrase)
    : format::zip::extractor(file), total_(file.data_fork().size()), quiet_(quiet), existing_(existing) {
    this->passphrase = passphrase;
}

void driver::run(const io::directory& destination) {
    destination_ = destination.path();
    if (!quiet_) window_.show();
    try {
        window_.begin(total_);
        extract(destination);
    } catch (const un::exception&) {
        window_.destroy();
        throw;
    }
    window_.destroy();
    run_log::line("done: " + std::to_string(written_) + " files extracted, " + std::to_string(kept_) + " kept");
}

bool driver::replaces(const io::path& path) {
    const io::file target(path);
    // Whether it is a link is asked only of what exists: most files are new,
    // and most of those are known to be without a question to the system.
    if (surely_new() || !target.any_fork_exists()) return true;
    const bool link = target.is_link();
    if (existing_ == options::overwrite::ask) {
        // Names come from the archive: shown only with their control
        // characters made visible.
        switch (overwrite_question().ask(path.join().printable(), link)) {
            case overwrite_question::answer::yes:
                return true;
            case overwrite_question::answer::no:
                return false;
            case overwrite_question::answer::all:
                existing_ = options::overwrite::always;
                return true;
            case overwrite_question::answer::none:
                existing_ = options::overwrite::never;
                return false;
        }
    }
    return existing_ == options::overwrite::always;
}

bool driver::entering(const io::path& path) {
    const any::string name = path.join().printable();
    window_.reach_file(written_ + kept_ + 1);
    const bool is_program = !program_.empty() && path.join() == program_;
    if (!replaces(path)) {
        ++kept_;
        if (is_program) program_kept_ = true;
        run_log::line("kept: " + name.to_utf8());
        return false;
    }
    ++written_;
    window_.set_name(name);
    if (is_program) program_written_ = true;
    run_log::line("extracted: " + name.to_utf8());
    return true;
}

void driver::starting(std::uint64_t files, std::uint64_t bytes) {
    std::uint64_t free = 0;
    // A system that cannot tell lets the run go on. Files that would be
    // replaced count in full: their space comes back only as they go.
    if (check_space && io::system::free_space(destination_, free) && bytes > free) {
        const std::string name = "\"" + destination_.join().printable().to_utf8() + "\"";
        throw un::exception("not enough free space: the files need " + any::size_text(bytes) + ", " +
                                any::size_text(free) + " free on " + name +
                                " (free some space, choose another folder with -d, or extract all the same with -f)",
                            "quillon::self::driver");
    }
    window_.set_file_count(files);
}

void driver::expect_program(const io::path& path) {
    program_ = path.join();
    program_written_ = program_kept_ = false;
}

void driver::passphrase_needed(std::string& passphrase) { passphrase_dialog().ask(passphrase); }

void driver::progress(std::uint64_t position) { window_.step(position); }

}  // namespace quillon::self
