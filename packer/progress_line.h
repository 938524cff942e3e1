// One self-rewriting line on standard error while packing, when standard
// error is a terminal: the share of the input bytes written so far and the
// name of the entry being written.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::pack {

class progress_line {
public:
    progress_line();
    ~progress_line();
    progress_line(const progress_line&) = delete;
    progress_line& operator=(const progress_line&) = delete;

    void show(std::uint64_t done, std::uint64_t total, const std::string& name);

private:
    bool shown_;
    bool drawn_ = false;
    int last_percent_ = -1;
    std::string last_name_;
};

}  // namespace quillon::pack
