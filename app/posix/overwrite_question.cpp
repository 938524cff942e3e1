#include "app/overwrite_question.h"

#include <string>

#include "app/posix/console.h"

namespace quillon::self {

bool overwrite_question::ask(const any::string& name) {
    std::string answer;
    if (!console::ask(name.to_utf8() + " already exists. Overwrite it? [y/N] ", answer)) return false;
    for (char& c : answer)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return answer == "y" || answer == "yes";
}

}  // namespace quillon::self
