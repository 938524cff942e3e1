#include "app/host.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/posix/console.h"

namespace quillon::self {

namespace {

constexpr const char* self_link = "/proc/self/exe";

}  // namespace

io::path host::own_path() {
    // The name under which the program was started, so that an unnamed
    // entry takes its name from it; the link itself when it cannot be read.
    std::vector<char> name(4096);
    for (;;) {
        const ssize_t length = readlink(self_link, name.data(), name.size());
        if (length < 0) return io::path(any::string(self_link));
        if (static_cast<std::size_t>(length) < name.size())
            return io::path(any::string(std::string(name.data(), static_cast<std::size_t>(length))));
        name.resize(name.size() * 2);
    }
}

io::path host::own_image() { return io::path(any::string(self_link)); }

any::string host::current_directory() {
    std::vector<char> name(4096);
    while (getcwd(name.data(), name.size()) == nullptr) {
        // A removed or unreachable current folder: extract relative to it.
        if (errno != ERANGE) return any::string(".");
        name.resize(name.size() * 2);
    }
    return any::string(std::string(name.data()));
}

void host::show_error(const std::string& text) noexcept {
    try {
        // One line, whatever the system's text holds, with no control
        // character left to act on the terminal: a message may quote a
        // name from the archive.
        std::string line = text;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        console::write(any::string(line).printable(std::string::npos).to_utf8() + "\n");
    } catch (...) {
    }
}

}  // namespace quillon::self
