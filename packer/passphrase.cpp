#include "packer/passphrase.h"

#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "packer/input_file.h"
#include "packer/output_file.h"

namespace quillon::pack {

namespace {

void wipe(std::vector<char>& bytes) {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

// One line from the terminal without echo, read a byte at a time so that
// no stream buffer keeps a copy; false at the end of the input.
bool read_hidden_line(const char* prompt, std::vector<char>& line) {
    std::cerr << prompt << std::flush;
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    line.reserve(1024);  // kept from growing, which would leave copies behind
    bool got = false;
    for (char c;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got = true;
        if (c == '\n') break;
        if (line.size() < line.capacity()) line.push_back(c);
    }
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    return got;
}

}  // namespace

passphrase::~passphrase() { wipe(); }

void passphrase::wipe() { pack::wipe(bytes_); }

void passphrase::read_file(const std::string& path) {
    wipe();
    std::vector<char> text(4096);  // read into once: no copies grow
    std::size_t size = 0;
    try {
        input_file file(path, input_file::kind::stream);
        while (size < text.size()) {
            const std::size_t n =
                file.read_some(reinterpret_cast<std::uint8_t*>(text.data()) + size, text.size() - size);
            if (n == 0) break;
            size += n;
        }
    } catch (const failure&) {
        pack::wipe(text);
        throw failure{"cannot read the passphrase file \"" + path + "\""};
    }
    std::size_t end = 0;
    while (end < size && text[end] != '\n') ++end;
    const bool whole_line = end < size || size < text.size();
    if (end > 0 && text[end - 1] == '\r') --end;
    bytes_.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end));
    pack::wipe(text);
    if (!whole_line) {
        wipe();
        throw failure{"the passphrase in \"" + path + "\" is longer than 4 KiB"};
    }
    if (bytes_.empty()) throw failure{"the passphrase file \"" + path + "\" is empty"};
}

void passphrase::ask() {
    wipe();
    if (!isatty(STDIN_FILENO)) throw failure{"--passphrase asks on a terminal; use --passphrase-file otherwise"};
    std::vector<char> again;
    if (!read_hidden_line("Passphrase: ", bytes_)) throw failure{"no passphrase given"};
    if (bytes_.empty()) throw failure{"the passphrase is empty"};
    const bool got = read_hidden_line("Passphrase again: ", again);
    const bool same = got && again == bytes_;
    pack::wipe(again);
    if (!got) throw failure{"no passphrase given"};
    if (!same) throw failure{"the passphrases differ"};
}

}  // namespace quillon::pack
