// POSIX: the narrow form of names is UTF-8, which represents every
// character, so there are no other code pages to fall back to.
#include "io/text/code_pages.h"
#include "io/text/utf8.h"

namespace any::code_pages {
namespace {

constexpr std::uint32_t utf8_code_page = 65001;

}  // namespace

std::uint32_t system_code_page() { return utf8_code_page; }

bool decode(std::uint32_t code_page, const std::string& bytes, std::u16string& out) {
    if (code_page != utf8_code_page) return false;
    out = utf8::decode(bytes);
    return true;
}

bool encode(std::uint32_t code_page, const std::u16string& text, std::string& out) {
    return code_page == utf8_code_page && utf8::encode(text, out);
}

std::vector<std::uint32_t> enumerate_installed() { return {}; }

}  // namespace any::code_pages
