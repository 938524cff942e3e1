#include "app/passphrase_dialog.h"

#include <windows.h>

#include "app/win32/wide.h"

#include "app/win32/resource.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

wchar_t passphrase_buffer[1024];

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM parameter, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, wide::title());
        SetFocus(GetDlgItem(dialog, resource::passphrase_field));
    } else if (message == WM_COMMAND) {
        if (parameter == IDOK) {
            GetDlgItemTextW(dialog, resource::passphrase_field, passphrase_buffer, 1024);
            EndDialog(dialog, 1);
        } else if (LOWORD(parameter) == IDCANCEL) {
            EndDialog(dialog, 0);
        }
    }
    return FALSE;
}

// The bytes of the passphrase as Windows programs typed them when the
// archive was made: the ANSI code page.
std::string ansi(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &bytes[0], length, nullptr, nullptr);
    bytes.pop_back();  // the terminating zero
    return bytes;
}

}  // namespace

void passphrase_dialog::ask(std::string& passphrase) {
    const HMODULE module = GetModuleHandleW(nullptr);
    if (FindResourceW(module, L"PASSPHRASE", MAKEINTRESOURCEW(5) /* RT_DIALOG */) != nullptr) {
        passphrase_buffer[0] = 0;  // the field starts empty each time
        if (DialogBoxParamW(module, L"PASSPHRASE", nullptr, procedure, 0) == 0) throw evacuation();
    }
    passphrase = ansi(passphrase_buffer);
}

}  // namespace quillon::self
