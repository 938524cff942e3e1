#include "app/posix/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace quillon::self {

namespace {

bool status_shown = false;

void write_all(const std::string& text) {
    const char* next = text.data();
    std::size_t left = text.size();
    while (left != 0) {
        const ssize_t done = ::write(STDERR_FILENO, next, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;  // nowhere to report it
        next += done, left -= static_cast<std::size_t>(done);
    }
}

volatile std::sig_atomic_t interrupted = 0;

void note_interrupt(int) { interrupted = 1; }

// Turns echo off on a terminal for as long as it lives. Ctrl+C meanwhile
// ends the read as Cancel instead of the program, so that echo is always
// turned back on: a terminal left without echo would outlive the program.
class hidden_input {
public:
    hidden_input() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        // The handler goes in before echo goes off: a Ctrl+C in between
        // would otherwise end the program with the terminal still silent.
        interrupted = 0;
        struct sigaction interrupt {};
        interrupt.sa_handler = note_interrupt;  // no SA_RESTART: the wait fails
        sigemptyset(&interrupt.sa_mask);
        sigaction(SIGINT, &interrupt, &previous_);
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        if (!active_) sigaction(SIGINT, &previous_, nullptr);
    }
    ~hidden_input() {
        if (!active_) return;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
        sigaction(SIGINT, &previous_, nullptr);
        write_all("\n");  // the Enter that was not echoed
    }
    hidden_input(const hidden_input&) = delete;
    hidden_input& operator=(const hidden_input&) = delete;

private:
    termios saved_{};
    struct sigaction previous_ {};
    bool active_ = false;
};

bool read_line(std::string& line) {
    char* text = nullptr;
    std::size_t capacity = 0;
    const ssize_t length = getline(&text, &capacity, stdin);
    if (length < 0) {
        std::free(text);
        return false;
    }
    line.assign(text, static_cast<std::size_t>(length));
    std::free(text);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Reads one line from the terminal, or fails when Ctrl+C is pressed. A
// plain read would miss a Ctrl+C that comes after the prompt but before the
// read starts and then wait for ever; here SIGINT stays blocked except
// inside ppoll, which unblocks it atomically, so one pending is never lost.
bool read_hidden_line(std::string& line) {
    sigset_t interrupt, previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt, &previous);
    line.clear();
    bool complete = false;
    while (!interrupted) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (ppoll(&input, 1, nullptr, &previous) < 0) {
            if (errno == EINTR && !interrupted) continue;  // some other signal
            break;
        }
        char block[256];
        const ssize_t got = ::read(STDIN_FILENO, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        line.append(block, static_cast<std::size_t>(got));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) {
            line.resize(end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            complete = true;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return complete;
}

}  // namespace

void console::write(const std::string& text) {
    status("");
    write_all(text);
}

void console::status(const std::string& text) {
    if (!status_shown && text.empty()) return;
    std::string line = "\r";
    // Cut to the width, counting a UTF-8 sequence as one column.
    const int columns = width() - 1;
    int used = 0;
    for (char c : text) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!continuation && used == columns) break;
        if (!continuation) ++used;
        line += c;
    }
    line += "\x1b[K";  // erases the rest of an earlier, longer line
    write_all(line);
    status_shown = !text.empty();
}

bool console::ask(const std::string& prompt, std::string& answer, bool secret) {
    if (isatty(STDIN_FILENO)) {
        if (!secret) {
            write(prompt);
            return read_line(answer);
        }
        // Silent before the prompt shows, so nothing typed after it echoes.
        hidden_input hidden;
        write(prompt);
        return read_hidden_line(answer);
    }
    write(prompt);
    // A piped answer is not echoed: end the prompt's line ourselves, so
    // that what follows starts on a line of its own.
    const bool answered = read_line(answer);
    write_all("\n");
    return answered;
}

bool console::error_is_terminal() { return isatty(STDERR_FILENO) != 0; }

int console::width() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace quillon::self
