#include "app/host.h"

#include <windows.h>

#include <vector>

#include "app/win32/wide.h"

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
        MessageBoxW(nullptr, wide::text(shown), wide::title, MB_OK);
    } catch (...) {
    }
}

}  // namespace quillon::self
