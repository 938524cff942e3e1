// The PASSPHRASE question, for the first encrypted entry.
#pragma once

#include <string>

namespace quillon::self {

class passphrase_dialog {
public:
    // Fills `passphrase` with what the user typed (the bytes that the
    // archive's writer took for it). Cancel raises quillon::self::evacuation
    // with an empty message.
    void ask(std::string& passphrase);
};

}  // namespace quillon::self
