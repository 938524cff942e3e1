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

// The lone surrogates that carry a byte which is not UTF-8 (utf8.h), and
// every other lone surrogate.
constexpr char16_t byte_escape_first = 0xDC80, byte_escape_last = 0xDCFF;
bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void append_escape(std::u16string& out, char16_t c) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    if (c < 0x20 || c == 0x7F) {
        out += u'^';
        out += c == 0x7F ? u'?' : static_cast<char16_t>(c + 0x40);
    } else if (c >= byte_escape_first && c <= byte_escape_last) {
        // Written out, the byte itself would reach the terminal: 0x9B alone
        // is the C1 control sequence introducer of many of them.
        const unsigned byte = c - 0xDC00u;
        out += u"\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    } else {
        out += u"<U+";
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0xF];
        out += u'>';
    }
}

}  // namespace

string string::printable(std::size_t longest) const {
    std::u16string shown;
    for (std::size_t i = 0; i < content_.size(); ++i) {
        const char16_t c = content_[i];
        if (is_high_surrogate(c) && i + 1 < content_.size() && is_low_surrogate(content_[i + 1])) {
            shown += c;
            shown += content_[++i];
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || is_bidi_control(c) || is_high_surrogate(c) ||
                   is_low_surrogate(c)) {
            append_escape(shown, c);
        } else {
            shown += c;
        }
    }
    if (longest >= 8 && shown.size() > longest) {
        // Never between the two halves of a surrogate pair.
        const std::size_t keep = (longest - 3) / 2;
        std::size_t head = keep, tail = shown.size() - keep;
        if (is_high_surrogate(shown[head - 1])) --head;
        if (is_low_surrogate(shown[tail])) ++tail;
        shown = shown.substr(0, head) + u"..." + shown.substr(tail);
    }
    return string(shown);
}

}  // namespace any
