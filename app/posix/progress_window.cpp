#include "app/progress_window.h"

#include <csignal>
#include <string>

#include "app/posix/console.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

// The display's state, process-wide like the window of the GUI stub.
bool shown = false;
std::uint64_t scale = 1;
std::uint64_t percent = 0;
std::string name;
std::uint64_t files = 0, reached = 0;
// Ctrl+C while the display is up is the Cancel button: recorded by the
// handler, raised by `step`.
volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

void draw() {
    if (!shown) return;
    const std::string count = files == 0 ? "" : std::to_string(reached) + "/" + std::to_string(files) + " ";
    console::status(std::to_string(percent) + "% " + count + name);
}

}  // namespace

void progress_window::show() {
    // A line that rewrites itself is only for a person watching.
    shown = console::error_is_terminal();
    if (!shown) return;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);  // no SA_RESTART: a prompt then ends as Cancel
}

void progress_window::begin(std::uint64_t total) {
    scale = total / 100 == 0 ? 1 : total / 100;
    percent = 0;
}

void progress_window::step(std::uint64_t position) {
    const std::uint64_t now = position / scale > 100 ? 100 : position / scale;
    if (now != percent) {
        percent = now;
        draw();
    }
    if (interrupted) throw evacuation();
}

void progress_window::set_name(const any::string& text) {
    name = text.to_utf8();
    draw();
}

void progress_window::set_file_count(std::uint64_t count) { files = count; }

void progress_window::reach_file(std::uint64_t number) { reached = number; }

void progress_window::destroy() {
    if (!shown) return;
    console::status("");
    signal(SIGINT, SIG_DFL);
    shown = false;
}

}  // namespace quillon::self
