// Text conversion of names: the lossless UTF-8 of archive names and POSIX
// names, code page 437, and the system's narrow form.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "errors/exception.h"
#include "io/text/code_page_converter.h"
#include "io/text/installed_code_pages.h"
#include "io/text/size_text.h"
#include "io/text/string.h"

namespace {

std::u16string units(std::initializer_list<char16_t> list) { return std::u16string(list); }

std::string narrow_failure(const any::string& text) {
    try {
        text.narrow();
    } catch (const any::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "none";
}

TEST(utf8, valid_text_decodes_to_its_characters) {
    // Latin, Greek, CJK and a character beyond the basic plane (a pair).
    any::string text = any::string::from_utf8(u8"caf\u00e9 \u03b1\u03b2 \u6f22\u5b57 \U0001F600");
    EXPECT_EQ(text.wide(), u"caf\u00e9 \u03b1\u03b2 \u6f22\u5b57 \U0001F600");
    EXPECT_EQ(text.to_utf8(), u8"caf\u00e9 \u03b1\u03b2 \u6f22\u5b57 \U0001F600");
}

TEST(utf8, every_invalid_byte_becomes_its_own_escape) {
    struct case_ {
        const char* what;
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"stray continuation byte", "a\x80z", units({u'a', 0xDC80, u'z'})},
        {"lone lead byte at the end", "a\xC3", units({u'a', 0xDCC3})},
        {"lead byte before ASCII", "\xE2(", units({0xDCE2, u'('})},
        {"overlong slash", "\xC0\xAF", units({0xDCC0, 0xDCAF})},
        {"overlong three-byte form", "\xE0\x80\xAF", units({0xDCE0, 0xDC80, 0xDCAF})},
        {"encoded surrogate U+D800", "\xED\xA0\x80", units({0xDCED, 0xDCA0, 0xDC80})},
        {"encoded escape U+DCFF itself", "\xED\xB3\xBF", units({0xDCED, 0xDCB3, 0xDCBF})},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
        {"invalid lead 0xFF", "\xFF\xFE", units({0xDCFF, 0xDCFE})},
        {"truncated four-byte form", "\xF0\x9F\x98", units({0xDCF0, 0xDC9F, 0xDC98})},
    };
    for (const auto& c : cases) {
        any::string text = any::string::from_utf8(c.bytes);
        EXPECT_EQ(text.wide(), c.expected) << c.what;
        EXPECT_EQ(text.to_utf8(), c.bytes) << c.what;
    }
}

TEST(utf8, any_byte_string_survives_the_round_trip) {
    std::mt19937 random(4);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 12, '\0');
        // Mostly high bytes, so that valid and invalid sequences mix.
        for (char& c : bytes) c = static_cast<char>(random() % 3 ? 0x80 + random() % 128 : random() % 128);
        ASSERT_EQ(any::string::from_utf8(bytes).to_utf8(), bytes) << round;
    }
}

TEST(utf8, lone_surrogates_that_are_no_escapes_become_replacement_characters) {
    any::string text(units({u'a', 0xD800, u'b', 0xDC10}));
    EXPECT_EQ(text.to_utf8(),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

// The edges of each form: bytes, one decimal below 10, none above, and a
// size just below a unit that rounds up to it.
TEST(size_text, sizes_read_as_people_write_them) {
    const std::pair<std::uint64_t, const char*> table[] = {
        {0, "0 B"},
        {999, "999 B"},
        {1000, "1.0 kB"},
        {1234, "1.2 kB"},
        {9949, "9.9 kB"},
        {9950, "10 kB"},
        {999449, "999 kB"},
        {999450, "1.0 MB"},
        {300000000, "300 MB"},
        {1200000000, "1.2 GB"},
        {UINT64_MAX, "18 EB"},
    };
    for (const auto& [bytes, text] : table) EXPECT_EQ(any::size_text(bytes), text) << bytes;
}

TEST(code_page_437, decodes_the_pc_characters) {
    any::string text = any::string::from_code_page_437("R\x82sum\x82 \xE1\xE3\x9C\xC9\xFF");
    EXPECT_EQ(text.wide(), u"R\u00e9sum\u00e9 \u00df\u03c0\u00a3\u2554\u00a0");
}

TEST(narrow, empty_text_stays_empty_both_ways) {
    EXPECT_TRUE(any::string(std::string()).empty());
    EXPECT_EQ(any::string(std::u16string()).narrow(), "");
    std::u16string out = u"x";
    EXPECT_TRUE(any::code_page_converter::instance().to_unicode("", out));
    EXPECT_TRUE(out.empty());
}

TEST(narrow, ascii_round_trips_and_trailing_zeros_are_dropped) {
    EXPECT_EQ(any::string("notes.txt").wide(), u"notes.txt");
    EXPECT_EQ(any::string(u"notes.txt").narrow(), "notes.txt");
    EXPECT_EQ(any::string(std::u16string(u"ab\0\0", 4)).narrow(), "ab");
}

TEST(narrow, a_failed_encoding_keeps_the_content) {
    // A lone high surrogate: no code page and no byte string has it.
    any::string text(units({u'a', 0xD800}));
    EXPECT_EQ(narrow_failure(text), "any::string: cannot convert from Unicode");
    EXPECT_EQ(text.wide(), units({u'a', 0xD800}));
}

#ifdef _WIN32

TEST(narrow, windows_uses_the_oem_code_page_first) {
    // Code page 437 or 850 under every Western OEM setting: 0x82 is e acute.
    EXPECT_EQ(any::string("caf\x82").wide(), u"caf\u00e9");
    EXPECT_EQ(any::string(u"caf\u00e9").narrow(), "caf\x82");
    EXPECT_FALSE(any::installed_code_pages::list().empty());
}

TEST(narrow, windows_falls_back_to_an_installed_code_page) {
    // Greek small alpha is in 437, but Greek capital delta is not; an
    // installed Greek code page (737, 869, 1253) still has it.
    std::string narrow = any::string(u"\u0394").narrow();
    EXPECT_EQ(narrow.size(), 1u);
}

#else

TEST(narrow, posix_narrow_form_is_utf8_with_escapes) {
    std::string bytes = "caf\xC3\xA9-\xFF";
    any::string text(bytes);
    EXPECT_EQ(text.wide(), units({u'c', u'a', u'f', 0xE9, u'-', 0xDCFF}));
    EXPECT_EQ(text.narrow(), bytes);
    EXPECT_TRUE(any::installed_code_pages::list().empty());
}

#endif

}  // namespace

namespace {

// Hazard: a name holding terminal escape sequences rewrote the screen when
// it was shown in a question or an error line.
TEST(printable, control_characters_and_bidi_overrides_become_visible) {
    EXPECT_EQ(any::string(u"a\x1B[2Jb").printable().to_utf8(), "a^[[2Jb");
    EXPECT_EQ(any::string(u"del\x7F\r\n").printable().to_utf8(), "del^?^M^J");
    EXPECT_EQ(any::string(u"csi\x9B"
                          "x")
                  .printable()
                  .to_utf8(),
              "csi<U+009B>x");
    EXPECT_EQ(any::string(u"evil\x202Etxt.exe").printable().to_utf8(), "evil<U+202E>txt.exe");
    EXPECT_EQ(any::string(u"caf\u00E9 \u4E2D").printable().to_utf8(), "caf\xC3\xA9 \xE4\xB8\xAD");
}

// Hazard: a byte that is not UTF-8 travelled through printable as its
// escape and came out of to_utf8 and narrow as the byte itself; 0x9B alone
// is a CSI to many terminals, as "\x1B[" is.
TEST(printable, bytes_that_are_not_utf8_and_lone_surrogates_become_visible) {
    const struct {
        std::string bytes, shown;
    } cases[] = {
        {"csi\x9B"
         "2J",
         "csi\\x9B2J"},                      // a raw C1 byte
        {"\xFF\xFEname", "\\xFF\\xFEname"},  // bytes no UTF-8 sequence starts with
        {"cut \xE2\x80", "cut \\xE2\\x80"},  // a sequence cut short
        {"\xC2\x9B"
         "2J",
         "<U+009B>2J"},  // U+009B itself, from valid UTF-8
        {"\xC2\x85"
         "x",
         "<U+0085>x"},                                   // NEL
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},             // an encoded surrogate: three bytes
        {"\xF0\x9F\x98\x80 ok", "\xF0\x9F\x98\x80 ok"},  // a pair stays a character
    };
    for (const auto& given : cases) {
        const any::string shown = any::string::from_utf8(given.bytes).printable();
        EXPECT_EQ(shown.to_utf8(), given.shown) << given.bytes;
        // The narrow form too (on POSIX an escape turns back into its
        // byte there); Windows' OEM code page holds ASCII at least.
        const bool ascii = std::all_of(given.shown.begin(), given.shown.end(), [](char c) { return c > 0; });
        if (ascii) {
            EXPECT_EQ(shown.narrow(), given.shown) << given.bytes;
        }
    }
    EXPECT_EQ(any::string(u"lone \xD800 and \xDC00").printable().to_utf8(), "lone <U+D800> and <U+DC00>");
    // A cut never splits a pair: here both cuts fall inside one.
    const std::u16string faces = u"a" + std::u16string(19, u'x') + u"\U0001F600" + std::u16string(20, u'm') +
                                 u"\U0001F600" + std::u16string(20, u'z');
    EXPECT_EQ(any::string(faces).printable(45).to_utf8(), "a" + std::string(19, 'x') + "..." + std::string(20, 'z'));
}

TEST(printable, long_texts_keep_their_start_and_end) {
    const std::u16string name = u"start" + std::u16string(1000, u'x') + u"end.txt";
    const std::string shown = any::string(name).printable(40).to_utf8();
    EXPECT_EQ(shown.size(), 40u - 1);  // two halves of 18 and "..."
    EXPECT_EQ(shown.substr(0, 5), "start");
    EXPECT_EQ(shown.substr(shown.size() - 7), "end.txt");
    EXPECT_NE(shown.find("..."), std::string::npos);
    EXPECT_EQ(any::string(u"short").printable(40).to_utf8(), "short");
}

}  // namespace
