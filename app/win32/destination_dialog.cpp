#include "app/destination_dialog.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include "app/win32/resource.h"
#include "app/win32/wide.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

// The folder shown in the field and confirmed with OK.
wchar_t destination_buffer[MAX_PATH];

void browse(HWND dialog) {
    // The classic folder browser needs COM on this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t display_name[MAX_PATH];
    BROWSEINFOW request{};
    request.hwndOwner = dialog;
    request.pszDisplayName = display_name;
    request.lpszTitle = L"Select destination folder:";
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    if (PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&request)) {
        wchar_t folder[MAX_PATH];
        if (SHGetPathFromIDListW(chosen, folder)) lstrcpynW(destination_buffer, folder, MAX_PATH);
        CoTaskMemFree(chosen);
    }
    // The field shows the last confirmed or browsed folder, also after the
    // browser was cancelled; then Enter confirms the dialog again.
    SetDlgItemTextW(dialog, resource::destination_field, destination_buffer);
    SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
    SetFocus(GetDlgItem(dialog, IDOK));
    SendMessageW(GetDlgItem(dialog, resource::browse_button), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
}

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM parameter, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, wide::title());
        SetDlgItemTextW(dialog, resource::destination_field, destination_buffer);
    } else if (message == WM_COMMAND) {
        if (parameter == IDOK) {
            GetDlgItemTextW(dialog, resource::destination_field, destination_buffer, MAX_PATH);
            EndDialog(dialog, 1);
        } else if (LOWORD(parameter) == IDCANCEL) {
            EndDialog(dialog, 0);
        } else if (LOWORD(parameter) == resource::browse_button) {
            browse(dialog);
        }
    }
    return FALSE;
}

}  // namespace

any::string destination_dialog::ask(const any::string& initial) {
    wide::copy(destination_buffer, MAX_PATH, initial);
    // A dialog that cannot be made counts as OK: the buffer holds `initial`.
    if (DialogBoxParamW(GetModuleHandleW(nullptr), L"DESTINATION", nullptr, procedure, 0) == 0) throw evacuation();
    return wide::string(destination_buffer);
}

}  // namespace quillon::self
