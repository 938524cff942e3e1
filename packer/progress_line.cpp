#include "packer/progress_line.h"

#include <unistd.h>

#include <iostream>

namespace quillon::pack {

progress_line::progress_line() : shown_(isatty(STDERR_FILENO)) {}

progress_line::~progress_line() {
    if (shown_ && drawn_) std::cerr << "\r\033[K" << std::flush;
}

void progress_line::show(std::uint64_t done, std::uint64_t total, const std::string& name) {
    if (!shown_) return;
    const int percent = static_cast<int>(total ? done * 100 / total : 100);
    // Drawn again only when it says something new.
    if (percent == last_percent_ && name == last_name_) return;
    last_percent_ = percent;
    last_name_ = name;
    std::cerr << "\r\033[K" << percent << "% " << name.substr(0, 70) << std::flush;
    drawn_ = true;
}

}  // namespace quillon::pack
