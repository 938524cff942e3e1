#include "app/passphrase_dialog.h"

#include "app/posix/console.h"
#include "errors/exception.h"

namespace quillon::self {

void passphrase_dialog::ask(std::string& passphrase) {
    std::string answer;
    if (!console::ask("Enter the passphrase: ", answer, true)) throw evacuation();
    passphrase = answer;
}

}  // namespace quillon::self
