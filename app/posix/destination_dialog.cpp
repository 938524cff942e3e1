#include "app/destination_dialog.h"

#include <string>

#include "app/posix/console.h"
#include "errors/exception.h"

namespace quillon::self {

any::string destination_dialog::ask(const any::string& initial) {
    std::string answer;
    if (!console::ask("Extract to: [" + initial.narrow() + "] ", answer)) throw evacuation();
    if (answer.empty()) return initial;
    return any::string(answer);
}

}  // namespace quillon::self
