#include "app/host.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/report.h"
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

io::path host::full_path(const any::string& name) {
    if (name.empty()) return io::path(name);
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(wide::text(name), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return io::path(name);
        if (length < full.size()) return io::path(wide::string(full.data()));
        full.resize(length + 1);
    }
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
        if (report::message_boxes_allowed()) {
            MessageBoxW(nullptr, wide::text(shown), wide::title(), MB_OK);
            return;
        }
        report out(true);
        out.write(shown.to_utf8() + "\n");
        out.finish();
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

// What CreateProcess would hand to cmd.exe itself: a name ending in .bat or
// .cmd, in any case, trailing dots and blanks not counted (the system drops
// them from a file name).
bool is_batch_file(std::wstring path) {
    while (!path.empty() && (path.back() == L'.' || path.back() == L' ')) path.pop_back();
    if (path.size() < 4) return false;
    std::wstring extension = path.substr(path.size() - 4);
    CharLowerBuffW(&extension[0], static_cast<DWORD>(extension.size()));
    return extension == L".bat" || extension == L".cmd";
}

// One word of cmd.exe's line after /s /c, in quotes: inside which & | < > ^
// ( ) , ; = and blanks are plain characters and the batch file's argument
// splitting does not cut. What quotes cannot protect is refused: a double
// quote would end them, a line break ends the command, and % is expanded
// inside quotes too (%NAME% by any variable of that name) with no escape
// there that every cmd.exe honours.
std::wstring batch_word(const std::wstring& word, const std::string& what) {
    const std::size_t bad = word.find_first_of(L"\"%\r\n");
    if (bad != std::wstring::npos) {
        const wchar_t c = word[bad];
        const char* const named = c == L'"' ? "a double quote" : c == L'%' ? "a %" : "a line break";
        throw un::exception(what + " \"" + wide::string(word.c_str()).printable(80).to_utf8() + "\" holds " + named +
                                ", which cmd.exe cannot pass to a batch file unchanged",
                            "quillon::self::host");
    }
    return L'"' + word + L'"';
}

// The system's cmd.exe (never one found on a search path) running `path`
// with `arguments`: /d without AutoRun commands, /e:on with the extensions
// a batch file expects (%~dp0), /v:off without delayed expansion (so ! is a
// plain character), /s /c taking the rest between the first and last quote
// as the command, as it is.
struct command {
    std::wstring application, line;
};

command batch_command(const std::wstring& path, const std::vector<any::string>& arguments) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw un::exception("cannot find the system folder", "quillon::self::host");
    command cmd{std::wstring(system) + L"\\cmd.exe", L"cmd.exe /d /e:on /v:off /s /c \""};
    cmd.line += batch_word(path, "the batch file's path");
    for (const any::string& argument : arguments) cmd.line += L' ' + batch_word(wide_of(argument), "the argument");
    cmd.line += L'"';
    return cmd;
}

// Any other program: its own path, then each argument as the system's own
// splitting reads it back.
command program_command(const std::wstring& path, const std::vector<any::string>& arguments) {
    command program{path, L""};
    append_argument(program.line, path);
    for (const any::string& argument : arguments) append_argument(program.line, wide_of(argument));
    return program;
}

}  // namespace

const wchar_t* wide::title() { return wide::text(title_text()); }

void host::set_title(const any::string& title) { title_text() = title; }

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

namespace {

// Why the program could not be started, in words.
std::string start_failure(const io::path& program, const io::path& folder, DWORD code) {
    std::string message = "cannot run \"" + program.join().to_utf8() + "\": ";
    switch (code) {
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        case ERROR_INVALID_EXE_SIGNATURE:
        case ERROR_EXE_MARKED_INVALID:
        case ERROR_BAD_FORMAT:
            return message + "it is not a program Windows can run (" + system_text(code) + ")";
        case ERROR_ACCESS_DENIED:
        case ERROR_ACCESS_DISABLED_BY_POLICY:
            return message + system_text(code) + " (the folder \"" + folder.join().to_utf8() +
                   "\" may not allow programs to run; choose another destination with -d)";
        default:
            return message + system_text(code);
    }
}

}  // namespace

namespace {

// Ctrl+C and Ctrl+Break reach every program of the console, the one started
// here included: the stub outlives it, to clean up after it. (A handler of
// its own, not the ignoring one, which the program would inherit.)
BOOL WINAPI outlive_program(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

}  // namespace

void host::check_program(const io::path& program, const std::vector<any::string>& arguments) {
    const std::wstring path = wide_of(program.join());
    if (is_batch_file(path)) batch_command(path, arguments);
}

int host::run_program(const io::path& program, const std::vector<any::string>& arguments, const io::path& folder) {
    const std::wstring path = wide_of(program.join());
    const std::wstring where = wide_of(folder.join());
    // Started as it is, a batch file runs through cmd.exe all the same, with
    // the command line as cmd reads it: an argument "x&y" would run y.
    command started = is_batch_file(path) ? batch_command(path, arguments) : program_command(path, arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The full path as the application name: no search of the program's
    // folder, the current folder or PATH.
    if (!CreateProcessW(started.application.c_str(), &started.line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        where.c_str(), &startup, &process))
        throw un::exception(start_failure(program, folder, GetLastError()), "quillon::self::host");
    CloseHandle(process.hThread);
    SetConsoleCtrlHandler(outlive_program, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    SetConsoleCtrlHandler(outlive_program, FALSE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

}  // namespace quillon::self
