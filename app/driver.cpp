#include "app/driver.h"

#include "app/overwrite_question.h"
#include "app/passphrase_dialog.h"
#include "errors/exception.h"
#include "io/directory.h"
#include "io/file.h"

namespace quillon::self {

driver::driver(io::file& file, bool quiet, options::overwrite existing, const std::string& passphrase)
    : format::zip::extractor(file), total_(file.data_fork().size()), quiet_(quiet), existing_(existing) {
    this->passphrase = passphrase;
}

void driver::run(const io::directory& destination) {
    if (!quiet_) window_.show();
    try {
        window_.begin(total_);
        extract(destination);
    } catch (const un::exception&) {
        window_.destroy();
        throw;
    }
    window_.destroy();
}

bool driver::entering(const io::path& path) {
    // Names come from the archive: shown only with their control
    // characters made visible.
    const any::string name = path.join().printable();
    const io::file target(path);
    // Whether it is a link is asked only of what exists: most files are new.
    if (target.any_fork_exists()) {
        const bool link = target.is_link();
        if (existing_ == options::overwrite::ask) {
            switch (overwrite_question().ask(name, link)) {
                case overwrite_question::answer::yes:
                    break;
                case overwrite_question::answer::no:
                    return false;
                case overwrite_question::answer::all:
                    existing_ = options::overwrite::always;
                    break;
                case overwrite_question::answer::none:
                    existing_ = options::overwrite::never;
                    return false;
            }
        } else if (existing_ == options::overwrite::never) {
            return false;
        }
    }
    window_.set_name(name);
    if (!program_.empty() && path.join() == program_) program_written_ = true;
    return true;
}

void driver::expect_program(const io::path& path) {
    program_ = path.join();
    program_written_ = false;
}

void driver::passphrase_needed(std::string& passphrase) { passphrase_dialog().ask(passphrase); }

void driver::progress(std::uint64_t position) { window_.step(position); }

}  // namespace quillon::self
