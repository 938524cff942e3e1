// The Windows stub: a GUI program (no console) that asks with dialogs and
// reports with one message box.
#include <windows.h>

#include <cwchar>

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

// The command-line text after the program's name and the blanks after it,
// by the runtime library's rules (a quoted name may hold blanks).
const wchar_t* arguments(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line != 0 && *line != L'"') ++line;
        if (*line == L'"') ++line;
    } else {
        while (*line > L' ') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    restrict_library_search();
    // "-q" counts only as the whole text, exactly.
    const bool quiet = std::wcscmp(arguments(GetCommandLineW()), L"-q") == 0;
    return quillon::self::entry::run(quiet);
}
