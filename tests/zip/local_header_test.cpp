// Local and central records: field layout, the signature and validity
// rules, name parsing, and how names are decoded.
#include <gtest/gtest.h>

#include <string>

#include "errors/exception.h"
#include "stream/safe_input.h"
#include "tests/zip/hand_made.h"
#include "tests/zip/memory_input.h"
#include "zip/archive.h"
#include "zip/central_header.h"
#include "zip/local_header.h"
#include "zip/name_rules.h"

namespace {

using namespace zip_test;
using format::zip::central_header;
using format::zip::entry_fields;
using format::zip::local_header;

local_header read_local(const entry& e, bool strict = true) {
    memory_input in(archive_builder::local(e).str());
    local_header header;
    header.read(in, strict);
    return header;
}

std::vector<std::string> components(const format::zip::entry_fields& fields) {
    std::vector<std::string> list;
    for (const auto& c : fields.name.components()) list.push_back(c.to_utf8());
    return list;
}

TEST(local_header, reads_every_field_and_stops_before_the_data) {
    entry e = stored_entry("docs/readme", "content");
    e.extra = "XY";
    e.flags = 0x0808;
    e.crc = 0x11223344;
    e.compressed_size = 7;
    e.uncompressed_size = 9;
    memory_input in(archive_builder::local(e).str());
    local_header header;
    EXPECT_EQ(header.read(in, true), 30u + 11 + 2);
    EXPECT_EQ(in.position(), 43u);
    EXPECT_EQ(header.fields.flags, 0x0808);
    EXPECT_EQ(header.fields.crc, 0x11223344u);
    EXPECT_EQ(header.fields.compressed_size, 7u);
    EXPECT_EQ(header.fields.uncompressed_size, 9u);
    EXPECT_EQ(header.fields.extra, "XY");
    EXPECT_EQ(header.fields.check_byte, dos_time >> 8);
    EXPECT_EQ(header.fields.modified, io::time::from_dos(dos_date, dos_time));
    EXPECT_FALSE(header.fields.is_directory);
    EXPECT_EQ(components(header.fields), (std::vector<std::string>{"docs", "readme"}));
    EXPECT_TRUE(header.valid());
}

TEST(local_header, names_split_into_components) {
    local_header folder = read_local(stored_entry("docs/", ""));
    EXPECT_TRUE(folder.fields.is_directory);
    EXPECT_EQ(components(folder.fields), (std::vector<std::string>{"docs"}));
    EXPECT_EQ(components(read_local(stored_entry("a/./b", "")).fields), (std::vector<std::string>{"a", "b"}));
    // Empty components name nothing: "a//b" and "/a" stay below the destination.
    EXPECT_EQ(components(read_local(stored_entry("a//b", "")).fields), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(components(read_local(stored_entry("/a", "")).fields), (std::vector<std::string>{"a"}));
    EXPECT_EQ(components(read_local(stored_entry("../a", "")).fields), (std::vector<std::string>{"..", "a"}));
    local_header unnamed = read_local(stored_entry("", ""));
    EXPECT_TRUE(unnamed.fields.name.empty());
    EXPECT_FALSE(unnamed.fields.is_directory);
}

TEST(local_header, unknown_methods_and_versions_read_but_are_not_valid) {
    for (std::uint16_t method : {7, 11, 12, 98}) {
        entry e = stored_entry("x", "");
        e.method = method;
        EXPECT_FALSE(read_local(e).valid()) << method;
    }
    entry minus_one = stored_entry("x", "");
    minus_one.method = 65535;
    EXPECT_TRUE(read_local(minus_one).valid());
    entry too_new = stored_entry("x", "");
    too_new.version = 46;
    EXPECT_FALSE(read_local(too_new).valid());
    too_new.version = 45;
    EXPECT_TRUE(read_local(too_new).valid());
}

TEST(local_header, a_strict_read_refuses_a_central_signature) {
    entry e = stored_entry("x", "");
    std::string central = archive_builder::central(e).str();
    memory_input in(central);
    local_header header;
    try {
        header.read(in, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.where, "format::zip::local_header");
        EXPECT_EQ(failure.message, "bad header artfact");
    }
    memory_input again(central);
    header.read(again, false);
    EXPECT_FALSE(header.valid());
}

TEST(local_header, a_name_cut_by_the_end_of_file_is_too_short) {
    std::string record = archive_builder::local(stored_entry("a-long-name", "")).str();
    record.resize(35);
    memory_input in(record);
    local_header header;
    try {
        header.read(in, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.where, "format::header");
        EXPECT_EQ(failure.message, "input stream is too short");
    }
    memory_input cut(record.substr(0, 20));
    stream::safe_input safe(cut);
    EXPECT_THROW(header.read(safe, true), stream::exception);
}

TEST(central_header, reads_its_own_fields_and_only_checks_the_signature) {
    entry e = stored_entry("dir/file.txt", "hello");
    e.method = 12;
    e.extra = "extra";
    e.offset = 0x01020304;
    memory_input in(archive_builder::central(e).str() + "next");
    central_header header;
    EXPECT_EQ(header.read(in, true), 46u + 12 + 5);
    EXPECT_EQ(header.version_made_by, 0x031E);
    EXPECT_EQ(header.local_header_offset, 0x01020304u);
    EXPECT_EQ(header.fields.extra, "extra");
    EXPECT_EQ(header.fields.method, 12);
    EXPECT_TRUE(header.valid());
    EXPECT_EQ(components(header.fields), (std::vector<std::string>{"dir", "file.txt"}));

    memory_input local(archive_builder::local(e).str());
    try {
        header.read(local, true);
        FAIL();
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.where, "format::zip::central_header");
        EXPECT_EQ(failure.message, "bad header artfact");
    }
}

// Extra block 0x7075: version 1, CRC-32 of the stored name, the UTF-8 name.
std::string unicode_path(const std::string& stored, const std::string& utf8, std::uint32_t crc_change = 0) {
    return bytes()
        .u16(0x7075)                                       // header ID
        .u16(static_cast<std::uint32_t>(5 + utf8.size()))  // data size
        .u8(1)                                             // version
        .u32(crc_of(stored) ^ crc_change)                  // CRC-32 of the stored name
        .text(utf8)
        .str();
}

TEST(name_decoding, the_utf8_flag_decodes_utf8) {
    EXPECT_EQ(entry_fields::decode_name("caf\xC3\xA9", 0x0800, "").to_utf8(), "caf\xC3\xA9");
}

TEST(name_decoding, the_unicode_path_field_wins_when_its_crc_matches) {
    const std::string stored = "caf\x82";  // é in code page 437
    const std::string field = bytes().u16(0x5455).u16(1).u8(0).str() + unicode_path(stored, "Caf\xC3\xA9");
    EXPECT_EQ(entry_fields::decode_name(stored, 0, field).to_utf8(), "Caf\xC3\xA9");
    // A field written for another name (the name was changed since) is stale.
    const std::string stale = unicode_path(stored, "Caf\xC3\xA9", 1);
    EXPECT_NE(entry_fields::decode_name(stored, 0, stale).to_utf8(), "Caf\xC3\xA9");
}

TEST(name_decoding, a_truncated_extra_block_is_ignored) {
    std::string field = unicode_path("x", "y");
    field.resize(field.size() - 1);
    EXPECT_EQ(entry_fields::decode_name("x", 0, field).to_utf8(), "x");
    EXPECT_EQ(entry_fields::decode_name("x", 0, "\x75\x70\xFF\xFF").to_utf8(), "x");
}

TEST(name_decoding, valid_utf8_without_the_flag_is_taken_as_utf8) {
    EXPECT_EQ(entry_fields::decode_name("\xCE\xB1\xCE\xB2.txt", 0, "").to_utf8(), "\xCE\xB1\xCE\xB2.txt");
}

TEST(name_decoding, utf8_validation_refuses_malformed_sequences) {
    EXPECT_TRUE(entry_fields::is_utf8("plain"));
    EXPECT_TRUE(entry_fields::is_utf8("\xE4\xB8\xAD\xF0\x9F\x98\x80"));
    EXPECT_FALSE(entry_fields::is_utf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(entry_fields::is_utf8("\xE0\x80\xAF"));      // overlong "/"
    EXPECT_FALSE(entry_fields::is_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(entry_fields::is_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(entry_fields::is_utf8("\xC3"));              // cut short
    EXPECT_FALSE(entry_fields::is_utf8("\x82"));              // continuation alone
}

#ifndef _WIN32
TEST(name_decoding, other_names_are_code_page_437_on_posix) {
    EXPECT_EQ(entry_fields::decode_name("caf\x82", 0, "").to_utf8(), "caf\xC3\xA9");
    EXPECT_EQ(entry_fields::decode_name("\x8E\x99\x9A", 0, "").to_utf8(), "\xC3\x84\xC3\x96\xC3\x9C");
}
#endif

io::path archive_name(const std::string& text) { return io::path(any::string::from_utf8(text), u"/"); }

TEST(unsafe_name, parent_components_in_either_separator_are_refused) {
    using format::zip::unsafe_name;
    for (const char* name : {"..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x", "a/b\\..\\..\\..\\x"})
        EXPECT_TRUE(unsafe_name(archive_name(name))) << name;
    for (const char* name : {"", "a", "a/b", "/x/y", "..a", "a..", "a/...b"})
        EXPECT_FALSE(unsafe_name(archive_name(name))) << name;
}

#ifdef _WIN32
TEST(unsafe_name, drives_streams_devices_and_dot_runs_are_refused_on_windows) {
    using format::zip::unsafe_name;
    for (const char* name : {"C:/x", "C:x", "a/b:stream", "CON", "con.txt", "a/Nul", "aux .log", "COM1", "lpt9.x",
                             "conin$", "x/...", "x/. .", ".. /x"})
        EXPECT_TRUE(unsafe_name(archive_name(name))) << name;
    for (const char* name : {"console", "COM0", "LPT", "com10", "a.con", "x/.a"})
        EXPECT_FALSE(unsafe_name(archive_name(name))) << name;
}
#endif

}  // namespace
