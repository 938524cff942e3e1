#include "app/overwrite_question.h"

#include <string>

#include "app/posix/console.h"
#include "errors/exception.h"

namespace quillon::self {

namespace {

// The answers are the letters in brackets; case tells "n" (this one) from
// "N" (every one). The whole words are taken in either case. Anything else,
// an empty line included, is Cancel: an unclear answer replaces nothing.
bool is(const std::string& answer, const char* letter, const char* word) {
    if (answer == letter) return true;
    std::string lower = answer;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == word;
}

}  // namespace

overwrite_question::answer overwrite_question::ask(const any::string& name, bool link) {
    std::string line;
    if (!console::ask(sentence(name, link).to_utf8() + " [y]es, [n]o, [A]ll, [N]one: ", line)) throw evacuation();
    if (is(line, "y", "yes")) return answer::yes;
    if (is(line, "n", "no")) return answer::no;
    if (is(line, "A", "all")) return answer::all;
    if (is(line, "N", "none")) return answer::none;
    throw evacuation();
}

}  // namespace quillon::self
