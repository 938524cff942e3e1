// The question before an existing file is replaced:
//   <name> already exists. Overwrite it?
#pragma once

#include "io/text/string.h"

namespace quillon::self {

class overwrite_question {
public:
    // True when the user agrees to replace `name` (the file's full path).
    bool ask(const any::string& name);
};

}  // namespace quillon::self
