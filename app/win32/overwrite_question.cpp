#include "app/overwrite_question.h"

#include <windows.h>

#include "app/win32/wide.h"

namespace quillon::self {

bool overwrite_question::ask(const any::string& name) {
    any::string question = name;
    question += u" already exists. Overwrite it?";
    return MessageBoxW(nullptr, wide::text(question), wide::title, MB_OKCANCEL) == IDOK;
}

}  // namespace quillon::self
