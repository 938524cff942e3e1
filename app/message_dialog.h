// The installer's message (a licence, a notice), shown before anything
// else, in full however long it is.
#pragma once

#include "io/text/string.h"

namespace quillon::self {

class message_dialog {
public:
    // Shows `message` with a button that goes on (`accept`; "I Agree" when
    // empty) and one that stops (`decline`; "Cancel" when empty); true to
    // go on. Windows: a dialog of its own with the title as its caption,
    // the text in a read-only field that scrolls, and the two buttons
    // (Enter is `accept`, Escape and closing the window `decline`). On a
    // terminal: the text, through a pager when standard input and output
    // are terminals and it is longer than the terminal, then
    // "Continue? [y/N]".
    bool ask(const any::string& message, const any::string& accept, const any::string& decline);
};

}  // namespace quillon::self
