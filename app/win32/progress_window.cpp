#include "app/progress_window.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "app/win32/resource.h"
#include "app/win32/wide.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

HWND window = nullptr;
HWND bar = nullptr;
std::uint64_t scale = 1;
// Set by the window procedure when the user clicks Cancel (or closes the
// window); `step` raises the cancel after dispatching, since an exception
// must not cross the system's dispatch frames.
bool cancel_requested = false;

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM parameter, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, wide::title());
        const HICON icon = LoadIconW(GetModuleHandleW(nullptr), L"ICON");
        SetClassLongPtrW(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
    } else if (message == WM_COMMAND && LOWORD(parameter) == IDCANCEL) {
        cancel_requested = true;
    }
    return FALSE;
}

}  // namespace

void progress_window::show() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    window = CreateDialogParamW(GetModuleHandleW(nullptr), L"PROGRESS", nullptr, procedure, 0);
    ShowWindow(window, SW_SHOW);
}

void progress_window::begin(std::uint64_t total) {
    bar = GetDlgItem(window, resource::progress_bar);
    scale = total / 100 == 0 ? 1 : total / 100;
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

void progress_window::step(std::uint64_t position) {
    // The bar clamps to its range.
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(static_cast<std::uint32_t>(position / scale)), 0);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (cancel_requested) throw evacuation();
}

void progress_window::set_name(const any::string& name) {
    SetDlgItemTextW(window, resource::current_file, wide::text(name));
}

void progress_window::destroy() { DestroyWindow(window); }

}  // namespace quillon::self
