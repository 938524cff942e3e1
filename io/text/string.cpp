#include "io/text/string.h"

#include "errors/exception.h"
#include "io/text/code_page_437.h"
#include "io/text/code_page_converter.h"
#include "io/text/utf8.h"

namespace any {

string::string(const char* bytes) : string(std::string(bytes ? bytes : "")) {}

string::string(const std::string& bytes) {
    if (!code_page_converter::instance().to_unicode(bytes, content_))
        throw any::exception("cannot convert to Unicode", "any::string");
}

string string::from_utf8(const std::string& bytes) { return string(utf8::decode(bytes)); }

string string::from_code_page_437(const std::string& bytes) { return string(code_page_437::decode(bytes)); }

const std::string& string::narrow() const {
    if (!code_page_converter::instance().from_unicode(content_, narrow_))
        throw any::exception("cannot convert from Unicode", "any::string");
    return narrow_;
}

std::string string::to_utf8() const { return utf8::encode_lenient(content_); }

namespace {

bool is_bidi_control(char16_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

void append_escape(std::u16string& out, char16_t c) {
    if (c < 0x20 || c == 0x7F) {
        out += u'^';
        out += c == 0x7F ? u'?' : static_cast<char16_t>(c + 0x40);
        return;
    }
    static const char16_t digits[] = u"0123456789ABCDEF";
    out += u"<U+";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0xF];
    out += u'>';
}

}  // namespace

string string::printable(std::size_t longest) const {
    std::u16string shown;
    for (char16_t c : content_) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || is_bidi_control(c))
            append_escape(shown, c);
        else
            shown += c;
    }
    if (longest >= 8 && shown.size() > longest) {
        const std::size_t keep = (longest - 3) / 2;
        shown = shown.substr(0, keep) + u"..." + shown.substr(shown.size() - keep);
    }
    return string(shown);
}

}  // namespace any
