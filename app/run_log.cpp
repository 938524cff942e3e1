#include "app/run_log.h"

#include <memory>

#include "io/file.h"

namespace quillon::self {

namespace {

std::unique_ptr<io::file>& log_file() {
    static std::unique_ptr<io::file> file;
    return file;
}

}  // namespace

void run_log::open(const io::path& file) {
    auto made = std::make_unique<io::file>(file);
    made->data_fork().create(true);
    log_file() = std::move(made);
}

bool run_log::is_open() { return log_file() != nullptr; }

void run_log::write(const std::string& text) noexcept {
    if (!log_file() || text.empty()) return;
    try {
        log_file()->data_fork().write(text.data(), static_cast<std::uint32_t>(text.size()));
    } catch (...) {
        // The run goes on without the rest of its record.
        close();
    }
}

void run_log::line(const std::string& text) noexcept {
    if (!log_file()) return;
    try {
        write(text + "\n");
    } catch (...) {
    }
}

void run_log::close() noexcept {
    std::unique_ptr<io::file> file = std::move(log_file());
    if (file) file->data_fork().close(false);
}

}  // namespace quillon::self
