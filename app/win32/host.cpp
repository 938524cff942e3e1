#include "app/host.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/wide.h"
#include "errors/exception.h"

namespace quillon::self {

io::path host::own_path() {
    // Grown until the whole name fits: a cut name would open nothing.
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length < name.size() || name.size() >= 32768) return io::path(wide::string(name.data()));
        name.resize(name.size() * 2);
    }
}

io::path host::own_image() { return own_path(); }

any::string host::current_directory() {
    std::vector<wchar_t> name(MAX_PATH);
    const DWORD needed = GetCurrentDirectoryW(static_cast<DWORD>(name.size()), name.data());
    if (needed >= name.size()) {
        name.resize(needed + 1);
        GetCurrentDirectoryW(static_cast<DWORD>(name.size()), name.data());
    }
    return wide::string(name.data());
}

void host::show_error(const std::string& text) noexcept {
    try {
        // Messages are in the narrow form in which they were composed.
        any::string shown;
        try {
            shown = any::string(text);
        } catch (...) {
            for (unsigned char c : text) shown.wide() += static_cast<char16_t>(c);
        }
        MessageBoxW(nullptr, wide::text(shown), wide::title(), MB_OK);
    } catch (...) {
    }
}

namespace {

any::string& title_text() {
    static any::string text(u"Self-Extracting Archive");
    return text;
}

std::string system_text(DWORD code) {
    wchar_t text[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text / sizeof text[0], nullptr);
    std::wstring shown(text, length);
    while (!shown.empty() && (shown.back() == L'\r' || shown.back() == L'\n' || shown.back() == L'.')) shown.pop_back();
    return wide::string(shown.c_str()).to_utf8();
}

// One argument as the system's own splitting (CommandLineToArgvW) reads
// it back: quoted when it holds a blank or a quote, backslashes before a
// quote doubled.
void append_argument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::wstring wide_of(const any::string& text) { return std::wstring(wide::text(text)); }

}  // namespace

const wchar_t* wide::title() { return wide::text(title_text()); }

void host::set_title(const any::string& title) { title_text() = title; }

bool host::confirm(const any::string& message) {
    return MessageBoxW(nullptr, wide::text(message), wide::title(), MB_OKCANCEL) == IDOK;
}

io::path host::new_temporary_folder() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        throw un::exception("cannot find the temporary folder", "quillon::self::host");
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t seed = static_cast<std::uint64_t>(counter.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        wchar_t name[32];
        wsprintfW(name, L"quillon-%08lx", static_cast<unsigned long>(seed >> 32));
        const std::wstring path = std::wstring(base) + name;
        // Made by this call or not at all: an existing folder is never taken.
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                throw un::exception("the temporary folder is a link", "quillon::self::host");
            return io::path(wide::string(path.c_str()));
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw un::exception("cannot make a temporary folder in \"" + wide::string(base).to_utf8() +
                                    "\": " + system_text(GetLastError()),
                                "quillon::self::host");
    }
    throw un::exception("cannot make a temporary folder: every name was taken", "quillon::self::host");
}

io::path host::home_folder() {
    wchar_t profile[32768];
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, 32768);
    if (length == 0 || length >= 32768)
        throw un::exception("no profile folder (USERPROFILE is not set)", "quillon::self::host");
    return io::path(wide::string(profile));
}

int host::run_program(const io::path& program, const std::vector<any::string>& arguments, const io::path& folder) {
    const std::wstring path = wide_of(program.join());
    const std::wstring where = wide_of(folder.join());
    std::wstring line;
    append_argument(line, path);
    for (const any::string& argument : arguments) append_argument(line, wide_of(argument));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The full path as the application name: no search of the program's
    // folder, the current folder or PATH.
    if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, where.c_str(), &startup,
                        &process)) {
        const DWORD code = GetLastError();
        std::string message = "cannot run \"" + program.join().to_utf8() + "\": " + system_text(code);
        if (code == ERROR_ACCESS_DENIED)
            message += " (the folder \"" + folder.join().to_utf8() +
                       "\" may not allow programs to run; choose another destination with -d)";
        throw un::exception(message, "quillon::self::host");
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

}  // namespace quillon::self
