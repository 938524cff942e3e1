#include "app/message_dialog.h"

#include <windows.h>

#include <string>

#include "app/win32/resource.h"
#include "app/win32/wide.h"

namespace quillon::self {

namespace {

struct message_words {
    std::wstring text, accept, decline;
};

// Buttons as wide as their words need (never narrower than the template's),
// kept at the right edge in their order, OK-like first.
void fit_buttons(HWND dialog) {
    const HWND buttons[] = {GetDlgItem(dialog, IDOK), GetDlgItem(dialog, IDCANCEL)};
    RECT right{}, first{};
    GetWindowRect(buttons[1], &right);
    GetWindowRect(buttons[0], &first);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&right), 2);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&first), 2);
    const int gap = right.left - first.right, height = right.bottom - right.top;
    const HDC context = GetDC(dialog);
    const HGDIOBJ font = SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    int edge = right.right;
    for (int i = 1; i >= 0; --i) {
        wchar_t words[64];
        const int length = GetWindowTextW(buttons[i], words, 64);
        SIZE extent{};
        GetTextExtentPoint32W(context, words, length, &extent);
        RECT shape{};
        GetWindowRect(buttons[i], &shape);
        int width = shape.right - shape.left;
        if (extent.cx + 2 * height > width) width = extent.cx + 2 * height;
        SetWindowPos(buttons[i], nullptr, edge - width, right.top, width, height, SWP_NOZORDER);
        edge -= width + gap;
    }
    SelectObject(context, font);
    ReleaseDC(dialog, context);
}

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM parameter, LPARAM argument) {
    if (message == WM_INITDIALOG) {
        const auto* words = reinterpret_cast<const message_words*>(argument);
        SetWindowTextW(dialog, wide::title());
        if (!words->accept.empty()) SetDlgItemTextW(dialog, IDOK, words->accept.c_str());
        if (!words->decline.empty()) SetDlgItemTextW(dialog, IDCANCEL, words->decline.c_str());
        fit_buttons(dialog);
        const HWND field = GetDlgItem(dialog, resource::message_text);
        SetWindowTextW(field, words->text.c_str());
        // The field has the focus, so that the keys scroll it, with nothing
        // selected; Enter still presses the default button.
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, 0);
        return FALSE;
    }
    if (message == WM_COMMAND && (LOWORD(parameter) == IDOK || LOWORD(parameter) == IDCANCEL))
        EndDialog(dialog, LOWORD(parameter));
    return FALSE;
}

// The field's line breaks are CR LF.
std::wstring field_text(const any::string& message) {
    std::wstring text;
    for (wchar_t c : std::wstring(wide::text(message))) {
        if (c == L'\n') text += L'\r';
        text += c;
    }
    return text;
}

}  // namespace

bool message_dialog::ask(const any::string& message, const any::string& accept, const any::string& decline) {
    const message_words words{field_text(message), wide::text(accept), wide::text(decline)};
    // A dialog that cannot be made shows nothing: nothing is accepted unread.
    return DialogBoxParamW(GetModuleHandleW(nullptr), L"MESSAGE", nullptr, procedure,
                           reinterpret_cast<LPARAM>(&words)) == IDOK;
}

}  // namespace quillon::self
