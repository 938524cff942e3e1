// The terminal side of the console front end: prompts and the progress line
// go to standard error, answers are lines read from standard input, so that
// a script can pipe them in and still capture standard output.
#pragma once

#include <string>

namespace quillon::self {

class console {
public:
    // Writes `text` to standard error as it is.
    static void write(const std::string& text);
    // Shows `prompt` and reads one answer line (without its line break);
    // false at the end of standard input or when reading fails, which the
    // callers take as Cancel. With `secret`, typing is not echoed when
    // standard input is a terminal.
    static bool ask(const std::string& prompt, std::string& answer, bool secret = false);
    // Replaces the status line (one self-rewriting line at the bottom of the
    // terminal) with `text`, cut to the terminal's width; an empty text
    // removes it. Prompts and `write` remove it first.
    static void status(const std::string& text);
    static bool error_is_terminal();
    // Columns of the terminal on standard error, 80 when unknown.
    static int width();
};

}  // namespace quillon::self
