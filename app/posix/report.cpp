#include "app/report.h"

#include <unistd.h>

#include <cerrno>

#include "app/run_log.h"
#include "io/path.h"
#include "io/system_error.h"

namespace quillon::self {

namespace {

// A listing of many entries goes out in pieces of this size.
constexpr std::size_t piece = 65536;

}  // namespace

// A terminal program shows no message boxes.
void report::without_message_boxes() {}
bool report::message_boxes_allowed() { return false; }

report::~report() {
    try {
        flush();
    } catch (...) {
    }
}

void report::write(const void* bytes, std::uint32_t length) {
    if (!error_) run_log::write(std::string(static_cast<const char*>(bytes), length));
    pending_.append(static_cast<const char*>(bytes), length);
    written_ += length;
    if (pending_.size() >= piece) flush();
}

void report::put(int byte) {
    const char c = static_cast<char>(byte);
    write(&c, 1);
}

// A listing that did not reach its file (a full disk, a closed terminal) is
// a failure of the run, said on standard error; a closed pipe is not: nobody
// reads on, as when the listing goes through `head`.
void report::flush() {
    const int target = error_ ? STDERR_FILENO : STDOUT_FILENO;
    const char* next = pending_.data();
    std::size_t left = pending_.size();
    while (left != 0) {
        const ssize_t done = ::write(target, next, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            pending_.clear();
            if (done == 0) errno = EIO;
            io::raise_system_error(io::path(any::string(error_ ? "standard error" : "standard output")), "cannot write",
                                   "self::report");
            return;
        }
        next += done, left -= static_cast<std::size_t>(done);
    }
    pending_.clear();
}

void report::finish() {
    if (finished_) return;
    finished_ = true;
    flush();
}

}  // namespace quillon::self
