#include "app/overwrite_question.h"

#include <windows.h>

#include "app/win32/resource.h"
#include "app/win32/wide.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

// Records the button as the dialog's result and returns: nothing is thrown
// through the system's dispatch frames; `ask` raises the cancel afterwards.
INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM parameter, LPARAM argument) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, wide::title());
        SetDlgItemTextW(dialog, resource::overwrite_text, reinterpret_cast<const wchar_t*>(argument));
        return TRUE;  // the focus on the first button, Yes
    }
    if (message == WM_COMMAND) {
        // Escape and closing the window arrive as IDCANCEL.
        switch (LOWORD(parameter)) {
            case IDYES:
            case IDNO:
            case IDCANCEL:
            case resource::yes_to_all_button:
            case resource::no_to_all_button:
                EndDialog(dialog, LOWORD(parameter));
                break;
        }
    }
    return FALSE;
}

}  // namespace

overwrite_question::answer overwrite_question::ask(const any::string& name, bool link) {
    const any::string question = sentence(name, link);
    const INT_PTR chosen = DialogBoxParamW(GetModuleHandleW(nullptr), L"OVERWRITE", nullptr, procedure,
                                           reinterpret_cast<LPARAM>(wide::text(question)));
    switch (chosen) {
        case IDYES:
            return answer::yes;
        case resource::yes_to_all_button:
            return answer::all;
        case IDNO:
            return answer::no;
        case resource::no_to_all_button:
            return answer::none;
        default:
            // Cancel, or a dialog that could not be made: nothing replaced.
            throw evacuation();
    }
}

}  // namespace quillon::self
