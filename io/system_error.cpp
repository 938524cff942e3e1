#include "io/system_error.h"

namespace io {

std::string system_error_message(const std::string& operation, const io::path& name, std::int32_t code,
                                 std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.')) text.pop_back();
    return operation + " \"" + name.join().narrow() + "\"; " + std::to_string(code) + " " + text;
}

}  // namespace io
