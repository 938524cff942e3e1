// The system half of text conversion, one implementation per system
// (io/win32/code_pages.cpp, io/posix/code_pages.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace any::code_pages {

// The code page of the system's narrow form: CP_OEMCP on Windows, UTF-8 on
// POSIX.
std::uint32_t system_code_page();
// Non-empty bytes to UTF-16; false when nothing could be produced.
bool decode(std::uint32_t code_page, const std::string& bytes, std::u16string& out);
// Non-empty text to bytes; false when the code page lacks a character.
bool encode(std::uint32_t code_page, const std::u16string& text, std::string& out);
// The installed code pages in the system's order.
std::vector<std::uint32_t> enumerate_installed();

}  // namespace any::code_pages
