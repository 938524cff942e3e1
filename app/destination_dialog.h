// The DESTINATION question: where to extract.
#pragma once

#include "io/text/string.h"

namespace quillon::self {

class destination_dialog {
public:
    // Offers `initial` (the current folder) and returns the folder the user
    // confirmed; an empty answer means the current folder. Cancel raises
    // quillon::self::evacuation with an empty message.
    any::string ask(const any::string& initial);
};

}  // namespace quillon::self
