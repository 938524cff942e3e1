// The C library's text for an errno value, in English, as strerror gives it
// in the C locale. glibc's strerrordesc_np reads the table directly:
// strerror looks the text up in the message catalogues, which would put
// the whole translation machinery into the statically linked stub.
#pragma once

#include <cstring>

namespace io {

inline const char* error_text(int code) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    const char* text = strerrordesc_np(code);
    return text != nullptr ? text : "Unknown error";
#else
    return std::strerror(code);
#endif
}

}  // namespace io
