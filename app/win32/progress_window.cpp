#include "app/progress_window.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

#include "app/win32/resource.h"
#include "app/win32/wide.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

HWND window = nullptr;
HWND bar = nullptr;
std::uint64_t scale = 1;
// What the count line shows: the percentage and which file of how many.
std::uint32_t percent = 0;
std::uint64_t files = 0, reached = 0;
// What was last put on the screen, and when: the window is brought up to
// date at most every `refresh_milliseconds`, since an archive of small
// files would otherwise spend more time on the display than on its files.
constexpr DWORD refresh_milliseconds = 30;
DWORD refreshed_at = 0;
bool ever_refreshed = false;
std::uint32_t shown_percent = 0;
std::uint64_t shown_reached = 0;
std::wstring name;
bool name_changed = false;
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

// Decimal digits, without the runtime's formatted output (which the stub
// does not otherwise link).
std::wstring digits(std::uint64_t value) {
    std::wstring text;
    do {
        text.insert(text.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return text;
}

// "37%, file 3 of 120"; only when the window is there.
void show_count() {
    if (window == nullptr) return;
    std::wstring text = digits(percent) + L"%";
    if (files != 0) text += L", file " + digits(reached) + L" of " + digits(files);
    SetDlgItemTextW(window, resource::progress_count, text.c_str());
}

bool refresh_due() { return !ever_refreshed || GetTickCount() - refreshed_at >= refresh_milliseconds; }

void refresh() {
    refreshed_at = GetTickCount();
    ever_refreshed = true;
    if (window == nullptr) return;
    if (shown_percent != percent) SendMessageW(bar, PBM_SETPOS, percent, 0);
    if (shown_percent != percent || shown_reached != reached) show_count();
    shown_percent = percent;
    shown_reached = reached;
    if (name_changed) SetDlgItemTextW(window, resource::current_file, name.c_str());
    name_changed = false;
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
    percent = 0;
    shown_percent = 0;
    show_count();
}

void progress_window::step(std::uint64_t position) {
    percent = static_cast<std::uint32_t>(position / scale > 100 ? 100 : position / scale);
    if (refresh_due()) {
        refresh();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (cancel_requested) throw evacuation();
}

void progress_window::set_name(const any::string& text) {
    if (window == nullptr) return;
    name = wide::text(text);
    name_changed = true;
    if (refresh_due()) refresh();
}

void progress_window::set_file_count(std::uint64_t count) { files = count; }

void progress_window::reach_file(std::uint64_t number) {
    reached = number;
    if (refresh_due()) refresh();
}

void progress_window::destroy() { DestroyWindow(window); }

}  // namespace quillon::self
