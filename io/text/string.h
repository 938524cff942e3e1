// The text type of names: UTF-16 inside, so that paths are split, joined and
// compared the same way on every system.
//
// Narrow bytes are "the system's narrow form": on Windows the OEM code page
// (with a fallback to the installed code pages when encoding), on POSIX
// UTF-8, where bytes that are not valid UTF-8 travel as lone surrogates
// U+DC80..U+DCFF so that any name the system hands out comes back byte for
// byte. Archive names, whose encoding the archive decides, have their own
// decoders (`from_utf8`, `from_code_page_437`).
#pragma once

#include <string>

namespace any {

class string {
public:
    string() = default;
    // Decode the system's narrow form; throws any::exception "cannot convert
    // to Unicode" when the system cannot decode it.
    string(const char* bytes);
    string(const std::string& bytes);
    // UTF-16 content, taken unchanged.
    string(const std::u16string& text) : content_(text) {}
    string(const char16_t* text) : content_(text) {}

    // UTF-8 as archives store it when they say so. Invalid bytes become lone
    // surrogates U+DC80..U+DCFF (never an error), so nothing is lost.
    static string from_utf8(const std::string& bytes);
    // The original IBM PC code page, the default of Zip archive names.
    static string from_code_page_437(const std::string& bytes);

    const std::u16string& wide() const { return content_; }
    std::u16string& wide() { return content_; }

    // The system's narrow form, computed anew at every call into a buffer of
    // this string (valid until the next call). Throws any::exception "cannot
    // convert from Unicode" when no code page represents the text; the
    // content stays as it was.
    const std::string& narrow() const;

    // UTF-8 for display and tests: never fails; the escapes of invalid bytes
    // give their bytes back, other lone surrogates become U+FFFD.
    std::string to_utf8() const;

    // The text as it may be shown on a terminal or in a message: control
    // characters and the bidirectional overrides become visible escapes, so
    // that a name can neither move the cursor nor disguise itself:
    //   C0 controls and DEL      ^@ .. ^_, ^?  (^[ for ESC)
    //   C1 controls U+0080..9F   <U+0080> .. <U+009F>  (<U+009B> for CSI)
    //   bidirectional overrides  <U+202E> and the like
    //   a byte that is not UTF-8 \x80 .. \xFF  (its escape U+DC80..U+DCFF;
    //                            written out, 0x9B alone is a CSI)
    //   any other lone surrogate <U+D800> and the like
    // The result holds none of these, so `to_utf8` and `narrow` of it give
    // no byte above 0x7F that is not part of a printable character. A text
    // longer than `longest` characters keeps its start and end around "...".
    string printable(std::size_t longest = 256) const;

    bool empty() const { return content_.empty(); }
    std::size_t size() const { return content_.size(); }

    string& operator+=(const string& tail) {
        content_ += tail.content_;
        return *this;
    }
    string& operator+=(const std::u16string& tail) {
        content_ += tail;
        return *this;
    }
    string& operator+=(const char16_t* tail) {
        content_ += tail;
        return *this;
    }

    friend bool operator==(const string& a, const string& b) { return a.content_ == b.content_; }
    friend bool operator!=(const string& a, const string& b) { return a.content_ != b.content_; }
    friend bool operator<(const string& a, const string& b) { return a.content_ < b.content_; }

private:
    std::u16string content_;
    mutable std::string narrow_;
};

}  // namespace any
