#include "app/driver.h"

#include "app/overwrite_question.h"
#include "app/passphrase_dialog.h"
#include "errors/exception.h"
#include "io/directory.h"
#include "io/file.h"

namespace quillon::self {

driver::driver(io::file& file, bool quiet)
    : format::zip::extractor(file), total_(file.data_fork().size()), quiet_(quiet) {}

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
    const any::string name = path.join();
    const io::file target(path);
    if (target.any_fork_exists() && !overwrite_question().ask(name)) throw evacuation("file already exists");
    window_.set_name(name);
    return true;
}

void driver::passphrase_needed(std::string& passphrase) { passphrase_dialog().ask(passphrase); }

void driver::progress(std::uint64_t position) { window_.step(position); }

}  // namespace quillon::self
