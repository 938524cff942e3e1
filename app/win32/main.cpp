// The Windows stub: a GUI program (no console) that asks with dialogs and
// reports with one message box; listing, testing and the usage text go to
// the console it was started from when there is one (app/win32/report.cpp).
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/entry.h"

namespace {

// The stub usually runs from a downloads folder, where anyone may have put
// a DLL named like a system one: load DLLs from the system folder only.
// Systems without the call (before Windows 7 with KB2533623) at least drop
// the current folder from the search.
void restrict_library_search() {
    SetDllDirectoryW(L"");
    using set_default_directories = BOOL(WINAPI*)(DWORD);
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (found == nullptr) return;
    auto restrict = reinterpret_cast<set_default_directories>(reinterpret_cast<void (*)()>(found));
    restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The words of the command line after the program's name, split by the
// system's rules (quotes group blanks, backslashes before quotes escape
// them), so that a quoted folder with blanks is one argument.
std::vector<any::string> arguments() {
    std::vector<any::string> words;
    int count = 0;
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) return words;
    for (int i = 1; i < count; ++i) words.emplace_back(std::u16string(reinterpret_cast<const char16_t*>(split[i])));
    LocalFree(split);
    return words;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    restrict_library_search();
    std::vector<any::string> words;
    try {
        words = arguments();
    } catch (...) {
        return quillon::self::entry::aborted;
    }
    return quillon::self::entry::run(words);
}
