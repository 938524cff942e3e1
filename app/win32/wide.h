// any::string holds UTF-16, which is what the wide Windows calls take.
#pragma once

#include <windows.h>

#include <string>

#include "io/text/string.h"

namespace quillon::self::wide {

inline const wchar_t* text(const any::string& value) { return reinterpret_cast<const wchar_t*>(value.wide().c_str()); }

inline any::string string(const wchar_t* value) {
    return any::string(std::u16string(reinterpret_cast<const char16_t*>(value)));
}

// Copies at most `capacity` - 1 characters; the buffer stays terminated.
inline void copy(wchar_t* buffer, int capacity, const any::string& value) { lstrcpynW(buffer, text(value), capacity); }

// The title of every window and message box of the program: the one the
// archive's settings give, else the program's own (host::set_title).
const wchar_t* title();

}  // namespace quillon::self::wide
