// The one converter between UTF-16 and the system's narrow form. Decoding
// uses the system's code page only; encoding tries it first and then every
// installed code page in the system's order, the first one that represents
// every character winning (the next conversion starts over).
#pragma once

#include <cstdint>
#include <string>

namespace any {

class code_page_converter {
public:
    // Created on first use, never destroyed before exit; creating it also
    // fills the list of installed code pages.
    static code_page_converter& instance();

    // False when the system could not decode non-empty bytes.
    bool to_unicode(const std::string& bytes, std::u16string& out) const;
    // False when no code page represents the text; `out` is then empty.
    // Trailing zero bytes are dropped.
    bool from_unicode(const std::u16string& text, std::string& out) const;

    std::uint32_t code_page() const { return code_page_; }

private:
    code_page_converter();

    std::uint32_t code_page_;
};

}  // namespace any
