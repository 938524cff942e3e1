// The question before an existing file is replaced:
//   <name> already exists. Overwrite it?
//   <name> already exists as a symbolic link. Overwrite it?
// with the answers Yes, Yes to All, No, No to All and Cancel.
#pragma once

#include "io/text/string.h"

namespace quillon::self {

class overwrite_question {
public:
    enum class answer {
        yes,  // replace this file
        all,  // replace this one and every later one without asking
        no,   // keep this file and go on with the next entry
        none  // keep this one and every later existing file without asking
    };

    // Asks about `name` (the file's full path, already made printable);
    // `link` when what exists is a symbolic link. Cancel (and anything not
    // understood as an answer) raises quillon::self::evacuation.
    answer ask(const any::string& name, bool link);

    // The question's sentence.
    static any::string sentence(const any::string& name, bool link) {
        any::string text = name;
        text += link ? u" already exists as a symbolic link. Overwrite it?" : u" already exists. Overwrite it?";
        return text;
    }
};

}  // namespace quillon::self
