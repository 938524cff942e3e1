#include "packer/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace quillon::pack {

namespace {

constexpr std::size_t buffer_size = 1 << 20;

std::string system_text(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// The temporary file a signal must remove, in storage the handler may read:
// a handler may call unlink, but not touch a std::string.
char pending_path[PATH_MAX];
volatile std::sig_atomic_t pending = 0;
constexpr int cleaned_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void remove_pending_and_die(int signal_number) {
    if (pending) unlink(pending_path);
    // The signal's own ending, so that whoever waits for the packer sees it.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void arm_cleanup(const std::string& path) {
    if (path.size() >= sizeof pending_path) return;  // mkstemp would have failed first
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    pending = 1;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int s : cleaned_signals) sigaction(s, &action, nullptr);
}

void disarm_cleanup() { pending = 0; }

}  // namespace

output_file::output_file(std::string target) : target_(std::move(target)) {
    temporary_ = target_ + ".partial-XXXXXX";
    // No signal may end the program between the file's creation and the
    // handler's knowing of it.
    sigset_t blocked, saved;
    sigemptyset(&blocked);
    for (int s : cleaned_signals) sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, &saved);
    fd_ = mkstemp(temporary_.data());
    const int error = errno;
    if (fd_ >= 0) arm_cleanup(temporary_);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    errno = error;
    if (fd_ < 0) throw failure{system_text("cannot create", temporary_)};
    buffer_.reserve(buffer_size);
}

output_file::~output_file() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) {
        unlink(temporary_.c_str());
        disarm_cleanup();
    }
}

void output_file::drain() {
    const std::uint8_t* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw failure{system_text("cannot write", temporary_)};
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    drained_ += buffer_.size();
    buffer_.clear();
}

void output_file::write(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    position_ += length;
    while (length > 0) {
        std::size_t n = std::min(length, buffer_size - buffer_.size());
        buffer_.insert(buffer_.end(), p, p + n);
        p += n;
        length -= n;
        if (buffer_.size() == buffer_size) drain();
    }
}

void output_file::write_u16(std::uint32_t value) {
    const std::uint8_t bytes[2] = {std::uint8_t(value), std::uint8_t(value >> 8)};
    write(bytes, 2);
}

void output_file::write_u32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                                   std::uint8_t(value >> 24)};
    write(bytes, 4);
}

void output_file::write_u64(std::uint64_t value) {
    write_u32(static_cast<std::uint32_t>(value));
    write_u32(static_cast<std::uint32_t>(value >> 32));
}

void output_file::patch(std::uint64_t at, const void* bytes, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    // The part already in the file, then the part still in the buffer.
    if (at < drained_) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, drained_ - at));
        for (std::size_t done = 0; done < n;) {
            ssize_t w = pwrite(fd_, p + done, n - done, static_cast<off_t>(at + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) throw failure{system_text("cannot write", temporary_)};
            done += static_cast<std::size_t>(w);
        }
        p += n;
        at += n;
        length -= n;
    }
    if (length > 0) std::memcpy(buffer_.data() + (at - drained_), p, length);
}

void output_file::truncate(std::uint64_t at) {
    if (at >= drained_) {
        buffer_.resize(static_cast<std::size_t>(at - drained_));
    } else {
        buffer_.clear();
        if (ftruncate(fd_, static_cast<off_t>(at)) != 0 || lseek(fd_, static_cast<off_t>(at), SEEK_SET) < 0)
            throw failure{system_text("cannot write", temporary_)};
        drained_ = at;
    }
    position_ = at;
}

void output_file::commit() {
    drain();
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd_, 0777 & ~mask) != 0) throw failure{system_text("cannot make executable", temporary_)};
    if (fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        throw failure{system_text("cannot write", temporary_)};
    }
    fd_ = -1;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw failure{system_text("cannot rename the output to", target_)};
    // Only now: a signal before the rename still removes the temporary file.
    committed_ = true;
    disarm_cleanup();
}

}  // namespace quillon::pack
