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

}  // namespace any
