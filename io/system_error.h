// Turns the last failure of a system call into an io::exception whose
// message carries the system's own text.
#pragma once

#include <cstdint>
#include <string>

#include "io/path.h"

namespace io {

// Reads the calling thread's last system error and throws io::exception
// (`where`, `error` = the code) with the message
//   operation "joined name"; code text
// where text is the system's text without trailing full stops and line
// breaks. Returns normally for a broken pipe (109 on Windows, EPIPE on
// POSIX): callers treat that as the end of the data. The name is given in
// its narrow form; when it has none, any::exception "cannot convert from
// Unicode" is thrown instead.
void raise_system_error(const io::path& name, const std::string& operation, const std::string& where);

// The message above, from its parts (shared by the system backends).
std::string system_error_message(const std::string& operation, const io::path& name, std::int32_t code,
                                 std::string text);

}  // namespace io
