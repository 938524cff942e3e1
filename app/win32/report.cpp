#include "app/report.h"

#include <windows.h>

#include <vector>

#include "app/run_log.h"
#include "app/win32/wide.h"

namespace quillon::self {

namespace {

// Where the text of standard output and of standard error goes, found once.
enum class sink { unknown, console, file, box, none };

struct target {
    sink kind = sink::unknown;
    HANDLE handle = nullptr;
};

target targets[2];
bool boxes_allowed = true;

// A console program's handle when the starter redirected it; the console of
// the process that started this one (a command prompt's); else none, and
// the text is shown in a message box.
target& find(bool error) {
    target& found = targets[error ? 1 : 0];
    if (found.kind != sink::unknown) return found;
    const HANDLE handle = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        const DWORD type = GetFileType(handle);
        DWORD mode;
        if (type == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
            found = {sink::console, handle};
            return found;
        }
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
            found = {sink::file, handle};
            return found;
        }
    }
    // A second report finds the console attached already.
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            found = {sink::console, console};
            return found;
        }
    }
    found = {boxes_allowed ? sink::box : sink::none, nullptr};
    return found;
}

std::wstring utf16(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

void pass_on(const target& to, const std::string& text) {
    if (text.empty() || to.kind == sink::none) return;
    if (to.kind == sink::console) {
        const std::wstring wide = utf16(text);
        DWORD done = 0;
        WriteConsoleW(to.handle, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr);
        return;
    }
    // Files and pipes get Windows line ends, in UTF-8.
    std::string lines;
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    const char* next = lines.data();
    DWORD left = static_cast<DWORD>(lines.size());
    while (left != 0) {
        DWORD done = 0;
        if (!WriteFile(to.handle, next, left, &done, nullptr) || done == 0) return;  // nobody reads on
        next += done, left -= done;
    }
}

// A message box shows a screenful: a long text keeps its first lines and its
// last ones (a test's summary), with the number of lines left out between.
std::string screenful(const std::string& text) {
    constexpr std::size_t head = 30, tail = 8;
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\n') starts.push_back(i + 1);
    if (starts.size() <= head + tail + 1) return text;
    const std::size_t left_out = starts.size() - head - tail;
    return text.substr(0, starts[head]) + "... (" + std::to_string(left_out) +
           " lines left out: run the program from a command prompt to see them all)\n" +
           text.substr(starts[starts.size() - tail]);
}

}  // namespace

void report::without_message_boxes() {
    boxes_allowed = false;
    for (target& found : targets)
        if (found.kind == sink::box) found.kind = sink::none;
}

bool report::message_boxes_allowed() { return boxes_allowed; }

report::~report() {
    try {
        const target& to = find(error_);
        if (to.kind != sink::box) pass_on(to, pending_);
        pending_.clear();
    } catch (...) {
    }
}

void report::write(const void* bytes, std::uint32_t length) {
    if (!error_) run_log::write(std::string(static_cast<const char*>(bytes), length));
    pending_.append(static_cast<const char*>(bytes), length);
    written_ += length;
    if (pending_.size() >= 65536) flush();
}

void report::put(int byte) {
    const char c = static_cast<char>(byte);
    write(&c, 1);
}

void report::flush() {
    const target& to = find(error_);
    if (to.kind == sink::box) return;
    // Whole lines only: a UTF-8 sequence is never split between two writes.
    const std::size_t end = pending_.rfind('\n');
    if (end == std::string::npos) return;
    pass_on(to, pending_.substr(0, end + 1));
    pending_.erase(0, end + 1);
}

void report::finish() {
    if (finished_) return;
    finished_ = true;
    const target& to = find(error_);
    if (to.kind != sink::box) {
        pass_on(to, pending_);
    } else if (!pending_.empty()) {
        std::string text = screenful(pending_);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        MessageBoxW(nullptr, utf16(text).c_str(), wide::title(), MB_OK);
    }
    pending_.clear();
}

}  // namespace quillon::self
