#include "app/message_dialog.h"

#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/posix/console.h"

extern char** environ;

namespace quillon::self {

namespace {

// The message's lines, with every control character but the author's line
// breaks made visible: the archive must not write to the terminal.
std::vector<std::string> shown_lines(const any::string& message) {
    std::vector<std::string> lines;
    const std::u16string& text = message.wide();
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find(u'\n', at);
        if (end == std::u16string::npos) end = text.size();
        lines.push_back(any::string(text.substr(at, end - at)).printable(std::string::npos).to_utf8());
        at = end + 1;
    }
    return lines;
}

void write_out(const std::string& text) {
    const char* next = text.data();
    std::size_t left = text.size();
    while (left != 0) {
        const ssize_t done = ::write(STDOUT_FILENO, next, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;
        next += done, left -= static_cast<std::size_t>(done);
    }
}

// The rows a line takes on a terminal `columns` wide (a UTF-8 sequence is
// one column).
std::size_t rows_of(const std::string& line, std::size_t columns) {
    std::size_t used = 0;
    for (char c : line)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++used;
    return used == 0 ? 1 : (used + columns - 1) / columns;
}

// $PAGER through the shell, as every program runs it, with the text on its
// standard input; false when it could not be run (the shell's 127). The
// stub ignores Ctrl+C and a pager that quits early meanwhile; the pager
// gets the usual handling of both.
bool through_pager(const char* pager, const std::string& text) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    struct sigaction ignore {
    }, old_interrupt{}, old_pipe{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old_interrupt);
    sigaction(SIGPIPE, &ignore, &old_pipe);
    char shell[] = "/bin/sh", dash_c[] = "-c";
    std::string command = pager;
    char* argv[] = {shell, dash_c, command.data(), nullptr};
    pid_t child = 0;
    const int error = posix_spawn(&child, shell, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipe_ends[0]);
    int status = 0;
    if (error == 0) {
        for (std::size_t at = 0; at < text.size();) {
            const ssize_t done = ::write(pipe_ends[1], text.data() + at, text.size() - at);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) break;  // the pager quit early
            at += static_cast<std::size_t>(done);
        }
    }
    close(pipe_ends[1]);
    if (error == 0)
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    sigaction(SIGINT, &old_interrupt, nullptr);
    sigaction(SIGPIPE, &old_pipe, nullptr);
    return error == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

// The built-in pager: a screenful at a time, Enter for the next, "q" for
// the end; false at the end of the input (taken as Cancel).
bool built_in_pager(const std::vector<std::string>& lines, std::size_t rows, std::size_t columns) {
    std::size_t used = 0;
    for (const std::string& line : lines) {
        const std::size_t needed = rows_of(line, columns);
        if (used != 0 && used + needed > rows - 1) {
            write_out("-- press Enter for more, q for the end --");
            char* answer = nullptr;
            std::size_t capacity = 0;
            const ssize_t length = getline(&answer, &capacity, stdin);
            const bool quit = length > 0 && (answer[0] == 'q' || answer[0] == 'Q');
            std::free(answer);
            if (length < 0) return false;
            if (quit) return true;
            used = 0;
        }
        write_out(line + "\n");
        used += needed;
    }
    return true;
}

enum class paged { no, shown, input_ended };

// Shows the lines to a person at a terminal, a screenful at a time, when
// they do not fit on it.
paged page(const std::vector<std::string>& lines) {
    winsize size{};
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_row < 3 || size.ws_col == 0)
        return paged::no;
    std::size_t needed = 0;
    for (const std::string& line : lines) needed += rows_of(line, size.ws_col);
    // One row for the question after the text.
    if (needed <= static_cast<std::size_t>(size.ws_row) - 1) return paged::no;
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    const char* pager = std::getenv("PAGER");
    if (pager != nullptr && *pager != '\0' && through_pager(pager, text)) return paged::shown;
    return built_in_pager(lines, size.ws_row, size.ws_col) ? paged::shown : paged::input_ended;
}

}  // namespace

bool message_dialog::ask(const any::string& message, const any::string&, const any::string&) {
    const std::vector<std::string> lines = shown_lines(message);
    switch (page(lines)) {
        case paged::no:
            for (const std::string& line : lines) console::write(line + "\n");
            break;
        case paged::shown:
            break;
        case paged::input_ended:
            return false;  // nothing is accepted unread
    }
    std::string answer;
    if (!console::ask("Continue? [y/N] ", answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

}  // namespace quillon::self
