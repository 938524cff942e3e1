// The fixed records without names: end record (and the search for it),
// data descriptor, and the string field reader they share.
#include <gtest/gtest.h>

#include <string>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/safe_input.h"
#include "tests/zip/memory_input.h"
#include "tests/zip/zip_bytes.h"
#include "zip/end_header.h"
#include "zip/extended_header.h"
#include "zip/header.h"

namespace {

using zip_test::bytes;
using zip_test::memory_input;

bytes end_record(std::uint16_t entries, std::uint32_t directory_size, std::uint32_t directory_offset,
                 const std::string& comment, std::uint16_t disk = 0) {
    return bytes()
        .u32(0x06054B50)  // signature PK 5 6
        .u16(disk)        // number of this disk
        .u16(0)           // disk where the central directory starts
        .u16(entries)     // central records on this disk
        .u16(entries)     // total central records
        .u32(directory_size)
        .u32(directory_offset)
        .u16(static_cast<std::uint32_t>(comment.size()))  // comment length
        .text(comment);
}

TEST(end_header, reads_every_field_and_reports_its_size) {
    memory_input in(end_record(3, 150, 1000, "hello").str());
    format::zip::end_header end;
    EXPECT_EQ(end.read(in, true), 27u);
    EXPECT_TRUE(end.valid());
    EXPECT_EQ(end.total_entries, 3);
    EXPECT_EQ(end.disk_entries, 3);
    EXPECT_EQ(end.directory_size, 150u);
    EXPECT_EQ(end.directory_offset, 1000u);
    EXPECT_EQ(end.comment, "hello");
    EXPECT_EQ(end.size(), 27u);
}

TEST(end_header, a_strict_read_refuses_another_signature) {
    bytes record = end_record(0, 0, 0, "");
    record.str()[3] = 0x02;  // PK 1 2 instead
    memory_input in(record.str());
    format::zip::end_header end;
    try {
        end.read(in, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.message, "bad header artfact");
        EXPECT_EQ(failure.where, "format::zip::end_header");
    }
}

TEST(end_header, a_lenient_read_of_a_cut_comment_pads_it_with_ff) {
    std::string record = end_record(0, 0, 0, "ab---").str();
    record.resize(record.size() - 3);  // only 2 of the 5 comment bytes remain
    memory_input in(record);
    format::zip::end_header end;
    EXPECT_EQ(end.read(in, false), 27u);
    EXPECT_EQ(end.comment, std::string("ab\xFF\xFF\xFF"));
}

TEST(end_header, a_strict_read_through_safe_input_reports_the_end_of_file) {
    std::string record = end_record(0, 0, 0, "").str();
    record.resize(15);  // the file ends inside the directory size
    memory_input in(record);
    stream::safe_input safe(in);
    format::zip::end_header end;
    try {
        end.read(safe, true);
        FAIL();
    } catch (const stream::exception& failure) {
        EXPECT_EQ(failure.message, "unexpected end of file");
    }
}

TEST(end_header_locate, finds_a_record_without_comment_at_the_very_end) {
    memory_input in(std::string(100, 'x') + end_record(0, 0, 0, "").str());
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), 100u);
}

TEST(end_header_locate, finds_a_record_followed_by_its_comment) {
    memory_input in(std::string(100, 'x') + end_record(0, 0, 0, std::string(100, 'c')).str());
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), 100u);
    EXPECT_EQ(end.locate(in), in.size() - 122);
}

TEST(end_header_locate, a_file_too_small_for_a_record_has_none) {
    memory_input in(std::string(21, 'x'));
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), format::zip::end_header::not_found);
    memory_input nothing(std::string(70000, 'x'));
    EXPECT_EQ(end.locate(nothing), format::zip::end_header::not_found);
}

// Hazard: a comment that carries a complete end record of its own (pointing
// anywhere it likes) must not be taken for the archive's end.
TEST(end_header_locate, a_fake_record_inside_the_comment_loses_to_the_real_one) {
    const std::string fake = end_record(1, 46, 0, "").str();
    const std::string comment = "note " + fake + " more text";
    memory_input in(std::string(50, 'x') + end_record(0, 0, 0, comment).str());
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), 50u);
}

// A fake whose own comment length does not reach the end of the file is
// passed over even where a comment-less record would stand.
TEST(end_header_locate, a_fake_record_ending_the_comment_loses_to_the_real_one) {
    std::string fake = end_record(1, 46, 0, "").str();
    fake[20] = 9;  // claims a comment of 9 bytes that is not there
    memory_input in(std::string(50, 'x') + end_record(0, 0, 0, "note " + fake).str());
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), 50u);
}

// When no candidate's comment reaches the end (data follows the archive, as
// a signature block does), the last signature found still wins.
TEST(end_header_locate, without_an_exact_fit_the_last_signature_wins) {
    const std::string first = end_record(0, 0, 0, "").str();
    const std::string second = end_record(0, 0, 0, "").str();
    memory_input in(first + "gap" + second + "trailing data");
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), first.size() + 3);
}

// Hazard: the program that carries the archive holds the signature in its
// own code; with nothing appended it must not be found there.
TEST(end_header_locate, bytes_before_the_archive_are_never_searched) {
    const std::string program = "code" + end_record(0, 0, 0, "").str() + "more code";
    memory_input in(program);
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in, program.size()), format::zip::end_header::not_found);
    EXPECT_EQ(end.locate(in, 10), format::zip::end_header::not_found);
    EXPECT_EQ(end.locate(in, 0), 4u);

    memory_input with_archive(program + end_record(0, 0, 0, "").str());
    EXPECT_EQ(end.locate(with_archive, program.size()), program.size());
}

TEST(end_header_locate, the_search_window_is_the_largest_record) {
    // A record whose comment is 65535 bytes long is found; one byte further
    // back it would lie outside the window.
    memory_input in(std::string(10, 'x') + end_record(0, 0, 0, std::string(65535, 'c')).str());
    format::zip::end_header end;
    EXPECT_EQ(end.locate(in), 10u);
    memory_input too_far(end_record(0, 0, 0, "").str() + std::string(65536, 'c'));
    EXPECT_EQ(end.locate(too_far), format::zip::end_header::not_found);
}

TEST(extended_header, reads_the_descriptor_with_its_signature) {
    const std::string data = bytes()
                                 .u32(0x08074B50)  // signature PK 7 8
                                 .u32(0xCAFEBABE)  // CRC-32
                                 .u32(10)          // compressed size
                                 .u32(20)          // uncompressed size
                                 .str();
    stream::array_input in(data.data(), 16);
    format::zip::extended_header descriptor;
    EXPECT_EQ(descriptor.read(in, true), 16u);
    EXPECT_EQ(descriptor.crc, 0xCAFEBABEu);
    EXPECT_EQ(descriptor.compressed_size, 10u);
    EXPECT_EQ(descriptor.uncompressed_size, 20u);
}

TEST(extended_header, a_descriptor_without_signature_is_refused) {
    const std::string data = bytes().u32(0xCAFEBABE).u32(10).u32(20).u32(0).str();  // starts with the CRC
    stream::array_input in(data.data(), 16);
    format::zip::extended_header descriptor;
    try {
        descriptor.read(in, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.message, "bad header artfact");
        EXPECT_EQ(failure.where, "format::zip::extended_header");
    }
}

TEST(header_read_string, strict_reads_refuse_short_fields_and_long_requests) {
    const std::string data = "abcdef";
    stream::array_input in(data.data(), 6);
    EXPECT_EQ(format::header::read_string(in, 4, 4, true), "abcd");
    try {
        format::header::read_string(in, 5, 5, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.message, "input stream is too short");
        EXPECT_EQ(failure.where, "format::header");
    }
    try {
        format::header::read_string(in, 3, 2, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.message, "name is too long");
        EXPECT_EQ(failure.where, "format::header");
    }
}

TEST(header_read_string, lenient_reads_clip_the_request_and_skip_the_rest) {
    const std::string data = "abcdefgh";
    stream::array_input in(data.data(), 8);
    EXPECT_EQ(format::header::read_string(in, 5, 3, false), "abc");
    EXPECT_EQ(format::header::read_string(in, 2, 4, false), "de");
    EXPECT_EQ(in.position(), 7u);
    EXPECT_EQ(format::header::read_string(in, 3, 3, false), std::string("h\0\0", 3));
}

}  // namespace
