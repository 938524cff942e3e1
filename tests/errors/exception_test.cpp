// The display text and the catch order the process entry relies on.
#include "errors/exception.h"

#include <gtest/gtest.h>

namespace {

TEST(exception, display_text_is_where_exception_message_period) {
    format::passphrase_exception failure("bad passphrase", "format::zip::encryption_header");
    EXPECT_EQ(un::display_text(failure), "format::zip::encryption_header exception: bad passphrase.");
}

TEST(exception, every_class_is_caught_as_the_base_with_its_fields) {
    auto where_of = [](auto thrown) {
        try {
            throw thrown;
        } catch (const un::exception& caught) {
            return caught.where + "|" + caught.message;
        }
    };
    EXPECT_EQ(where_of(io::exception("cannot open", "io::fork", 5)), "io::fork|cannot open");
    EXPECT_EQ(where_of(format::crc_exception("CRC mismatch, data is invalid", "format::zip::item_reader")),
              "format::zip::item_reader|CRC mismatch, data is invalid");
    EXPECT_EQ(where_of(quillon::self::evacuation("file already exists")), "evacuation|file already exists");
}

TEST(exception, a_cancel_is_matched_before_other_failures) {
    int code = -1;
    try {
        throw quillon::self::evacuation();
    } catch (const quillon::self::evacuation&) {
        code = 1;
    } catch (const un::exception&) {
        code = 2;
    }
    EXPECT_EQ(code, 1);
}

TEST(exception, io_exception_keeps_the_system_code) {
    try {
        throw io::exception("cannot open \"x\"; 2 not found", "io::fork", 2);
    } catch (const io::exception& caught) {
        EXPECT_EQ(caught.error, 2);
    }
}

}  // namespace
