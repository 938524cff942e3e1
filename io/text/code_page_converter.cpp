#include "io/text/code_page_converter.h"

#include "io/text/code_pages.h"
#include "io/text/installed_code_pages.h"

namespace any {

code_page_converter& code_page_converter::instance() {
    // Never destroyed: names may still be converted while statics go away.
    static code_page_converter* converter = new code_page_converter();
    return *converter;
}

code_page_converter::code_page_converter() : code_page_(code_pages::system_code_page()) {
    installed_code_pages::list();
}

bool code_page_converter::to_unicode(const std::string& bytes, std::u16string& out) const {
    out.clear();
    if (bytes.empty()) return true;
    return code_pages::decode(code_page_, bytes, out) && !out.empty();
}

bool code_page_converter::from_unicode(const std::u16string& text, std::string& out) const {
    out.clear();
    if (text.empty()) return true;
    bool done = code_pages::encode(code_page_, text, out) && !out.empty();
    for (auto it = installed_code_pages::list().begin(); !done && it != installed_code_pages::list().end(); ++it)
        done = code_pages::encode(*it, text, out) && !out.empty();
    if (!done) {
        out.clear();
        return false;
    }
    // A text that ends in U+0000 loses its trailing zero bytes.
    while (!out.empty() && out.back() == '\0') out.pop_back();
    return true;
}

}  // namespace any
