#include "packer/output_file.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <random>

namespace quillon::pack {

namespace {

constexpr std::size_t buffer_size = 1 << 20;

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
    if (path.size() >= sizeof pending_path) return;  // the creation would have failed first
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    pending = 1;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int s : cleaned_signals) sigaction(s, &action, nullptr);
}

void disarm_cleanup() { pending = 0; }

// Six letters or digits drawn at random: the temporary file's name is
// tried until one is free.
std::string random_suffix() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::string suffix(6, '_');
    for (char& c : suffix) c = letters[source() % (sizeof letters - 1)];
    return suffix;
}

}  // namespace

failure system_failure(const std::string& what, const std::string& path, const io::exception& e) {
    // The file layer's message is `operation "name"; code text`.
    std::string reason = e.message;
    const std::size_t name_end = reason.rfind("\"; ");
    const std::size_t text = name_end == std::string::npos ? name_end : reason.find(' ', name_end + 3);
    if (text != std::string::npos) reason.erase(0, text + 1);
    return failure{what + " \"" + path + "\": " + reason};
}

output_file::output_file(std::string target) : target_(std::move(target)) {
    // No signal may end the program between the file's creation and the
    // handler's knowing of it.
    sigset_t blocked, saved;
    sigemptyset(&blocked);
    for (int s : cleaned_signals) sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, &saved);
    constexpr int attempts = 100;
    for (int attempt = 1;; ++attempt) {
        temporary_ = target_ + ".partial-" + random_suffix();
        temporary_file_.path() = io::path(any::string(temporary_));
        try {
            data().create(false);
            break;
        } catch (const io::exception& e) {
            if (attempt < attempts && temporary_file_.exists()) continue;  // taken: another name
            pthread_sigmask(SIG_SETMASK, &saved, nullptr);
            throw system_failure("cannot create", temporary_, e);
        }
    }
    arm_cleanup(temporary_);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    buffer_.reserve(buffer_size);
}

output_file::~output_file() {
    if (!committed_) {
        data().remove(false);
        disarm_cleanup();
    }
}

void output_file::drain() {
    try {
        data().write(buffer_.data(), static_cast<std::uint32_t>(buffer_.size()));
    } catch (const io::exception& e) {
        throw system_failure("cannot write", temporary_, e);
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
        try {
            data().seek(at);
            data().write(p, static_cast<std::uint32_t>(n));
            data().seek(drained_);
        } catch (const io::exception& e) {
            throw system_failure("cannot write", temporary_, e);
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
        try {
            data().resize(at);
            data().seek(at);
        } catch (const io::exception& e) {
            throw system_failure("cannot write", temporary_, e);
        }
        drained_ = at;
    }
    position_ = at;
}

void output_file::commit() {
    drain();
    // Executable for whoever may read it: every permission less the umask.
    io::item_info executable;
    executable.has_mode = true;
    executable.mode = io::item_info::permission_bits;
    data().apply_info(executable);
    try {
        data().flush();
        data().close();
    } catch (const io::exception& e) {
        throw system_failure("cannot write", temporary_, e);
    }
    try {
        data().rename_over(io::path(any::string(target_)));
    } catch (const io::exception& e) {
        throw system_failure("cannot rename the output to", target_, e);
    }
    // Only now: a signal before the rename still removes the temporary file.
    committed_ = true;
    disarm_cleanup();
}

}  // namespace quillon::pack
