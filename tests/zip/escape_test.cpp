// Archives that would write outside the destination, or make a reader see
// something else than what the stub writes: names with empty components,
// links that leave through the archive's own links, local headers whose
// sizes lie, two archives in one file, and times the 32-bit Unix field
// cannot hold signed. Each is refused with one clear error before anything
// is written, or reads as every peer reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/zip/walk_fixture.h"

namespace {

using namespace zip_test;

class escape : public walk_fixture {
protected:
    void expect_refused(archive_builder& builder, const std::string& failure) {
        EXPECT_EQ(run(builder).failure, failure);
        expect_nothing_written();
    }
    void expect_refused_file(const std::string& file, const std::string& failure) {
        EXPECT_EQ(run_file(file).failure, failure);
        expect_nothing_written();
    }
    void expect_nothing_written() {
        EXPECT_TRUE(extracted().empty());
        EXPECT_TRUE(strays().empty());
        fs::remove_all(destination());
    }
};

const std::string where = "format::zip::archive: ";

#ifndef _WIN32
entry link_entry(const std::string& name, const std::string& target) {
    entry e = stored_entry(name, target);
    e.external = 0120777u << 16;
    return e;
}

// Hazard: link names and targets judged as text, without the empty and "."
// components the system skips and without the links the archive makes
// first, let files land in the destination's parent.
TEST_F(escape, links_that_leave_through_empty_components_or_other_links_are_refused) {
    struct hazard {
        std::vector<entry> entries;
        std::string failure;
    };
    const hazard hazards[] = {
        // "a//b" is a/b, one level down: "../.." climbs above the destination.
        {{link_entry("a//b", "../.."), stored_entry("a/b/escaped.txt", "x")},
         "symbolic link \"a/b\" points outside the destination"},
        // A leading slash names nothing: "/l" is a link in the destination.
        {{link_entry("/l", ".."), stored_entry("l/escaped.txt", "x")},
         "symbolic link \"l\" points outside the destination"},
        // m -> l/.. is the parent of the folder that l names, the destination.
        {{link_entry("l", "."), link_entry("m", "l/.."), stored_entry("/m/escaped.txt", "x")},
         "symbolic link \"m\" points outside the destination"},
        // The same when the link it passes through comes later.
        {{link_entry("m", "l/.."), link_entry("l", ".")}, "symbolic link \"m\" points outside the destination"},
        // Links that lead to each other lead nowhere.
        {{link_entry("p", "q/x"), link_entry("q", "p")}, "symbolic link \"p\" points outside the destination"},
        // Below a link however its name is written.
        {{stored_entry("sub/", ""), link_entry("evil", "sub"), stored_entry("/./evil//file", "x")},
         "entry \"evil/file\" lies below a symbolic link of the archive"},
    };
    for (const hazard& h : hazards) {
        archive_builder builder;
        builder.entries = h.entries;
        expect_refused(builder, where + h.failure);
    }
}

TEST_F(escape, links_through_the_archive_own_links_that_stay_inside_are_made) {
    archive_builder builder;
    builder.entries = {stored_entry("lib/", ""),
                       stored_entry("lib/libx.so.1.2", "code"),
                       link_entry("lib/libx.so.1", "libx.so.1.2"),
                       link_entry("lib/libx.so", "libx.so.1"),
                       link_entry("current", "lib"),
                       link_entry("up", "current/../lib/libx.so")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(read_file(destination() / "up"), "code");
    EXPECT_TRUE(strays().empty());
}
#endif

TEST_F(escape, empty_and_dot_components_are_dropped_from_every_name) {
    archive_builder builder;
    builder.entries = {stored_entry("/abs.txt", "a"), stored_entry("x//y/./z.txt", "z"), stored_entry("./dot/", "")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(extracted(),
              (tree_type{{"abs.txt", "a"}, {"x", "<dir>"}, {"x/y", "<dir>"}, {"x/y/z.txt", "z"}, {"dot", "<dir>"}}));
    EXPECT_TRUE(strays().empty());
}

// Hazard: sizes trusted from the local header while the listing and the
// overlap check took the directory's: a bomb of entries whose local sizes
// span every later entry, and files written longer than listed.
TEST_F(escape, local_headers_whose_values_differ_from_the_directory_are_refused) {
    struct hazard {
        const char* what;
        void (*change)(entry&);
        std::string failure;
    };
    const hazard hazards[] = {
        {"local sizes spanning the next entry",
         [](entry& e) { e.local_compressed_size = e.local_uncompressed_size = 45; },
         "entries overlap each other or the central directory"},
        {"a longer local size", [](entry& e) { e.local_uncompressed_size = 6; },
         "sizes, CRC or method in directory and header of \"a\" differ"},
        {"another local CRC", [](entry& e) { e.local_crc = 1; },
         "sizes, CRC or method in directory and header of \"a\" differ"},
        {"sizes left to a descriptor that is not announced", [](entry& e) { e.local_sizes_zero = true; },
         "sizes, CRC or method in directory and header of \"a\" differ"},
    };
    for (const hazard& h : hazards) {
        archive_builder builder;
        builder.entries = {stored_entry("a", "12345"), stored_entry("b", "67890")};
        builder.settle();
        h.change(builder.entries[0]);
        expect_refused(builder, where + h.failure);
    }
}

TEST_F(escape, a_zip64_local_size_beyond_the_file_is_refused_before_writing) {
    archive_builder builder;
    entry e = stored_entry("big", "twelve bytes");
    e.local_compressed_size = e.local_uncompressed_size = 0xFFFFFFFF;
    // Zip64 extra field: tag 1, 16 bytes, both sizes 2^40.
    e.extra = bytes().u16(1).u16(16).u64(std::uint64_t{1} << 40).u64(std::uint64_t{1} << 40).str();
    e.central_extra_set = true;
    builder.entries = {e};
    expect_refused(builder, where + "entries overlap each other or the central directory");
}

// The archive of `entries` with its offsets counting from the start of the
// file, and where its end record begins.
std::string archive_of(const std::vector<entry>& entries, const std::string& prefix, std::size_t& end_record) {
    archive_builder builder;
    builder.prefix = prefix;
    builder.absolute_offsets = true;
    builder.entries = entries;
    const std::string file = builder.build();
    end_record = file.size() - 22;
    return file;
}

void set_comment_length(std::string& file, std::size_t end_record, std::size_t length) {
    file[end_record + 20] = static_cast<char>(length & 0xFF);
    file[end_record + 21] = static_cast<char>(length >> 8);
}

// Hazard: two archives in one file. Peers show the one in the comment, the
// stub extracted the other: what a user checks is not what runs.
TEST_F(escape, an_end_record_in_the_comment_with_a_directory_of_its_own_is_refused) {
    std::size_t outer_end = 0, inner_end = 0;
    std::string file = archive_of({stored_entry("setup.sh", "evil")}, "", outer_end);
    file = archive_of({stored_entry("readme_.txt", "benign")}, file, inner_end);
    set_comment_length(file, outer_end, file.size() - outer_end - 22);
    expect_refused_file(file, where +
                                  "the file holds a second archive directory: its readers would not agree on "
                                  "what it contains");
}

TEST_F(escape, a_zip64_end_record_hidden_in_the_comment_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "first"), stored_entry("b", "second")};
    const std::string plain = builder.build();
    const std::size_t end = plain.size() - 22;
    const std::size_t directory = plain.rfind("PK\x01\x02", plain.rfind("PK\x01\x02") - 1);
    const std::size_t first_record = plain.rfind("PK\x01\x02") - directory;
    const std::size_t zip64_at = end + 22;
    builder.comment = bytes()
                          .u32(0x06064B50)  // a Zip64 end record counting the first entry only
                          .u64(44)
                          .u16(0x032D)
                          .u16(45)
                          .u32(0)
                          .u32(0)
                          .u64(1)
                          .u64(1)
                          .u64(first_record)
                          .u64(directory)
                          .u32(0x07064B50)  // its locator
                          .u32(0)
                          .u64(zip64_at)
                          .u32(1)
                          .u32(0x06054B50)  // an end record of markers at the file's end
                          .u16(0)
                          .u16(0)
                          .u16(0xFFFF)
                          .u16(0xFFFF)
                          .u32(0xFFFFFFFF)
                          .u32(0xFFFFFFFF)
                          .u16(0)
                          .str();
    expect_refused(builder, where +
                                "the file holds a second archive directory: its readers would not agree on "
                                "what it contains");
}

TEST_F(escape, a_zip64_end_record_that_disagrees_with_the_end_record_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "first"), stored_entry("b", "second")};
    builder.zip64_end = true;
    builder.classic_values = true;
    builder.zip64_total_entries = 1;
    expect_refused(builder, where + "the Zip64 end record and the end record disagree");
}

// Hazard: Info-ZIP's 32-bit Unix time of a file dated after January 2038
// was read signed, as a date in 1903.
TEST_F(escape, unix_times_are_read_the_way_the_dos_time_says) {
    struct moment {
        std::int64_t seconds;
        std::uint16_t dos_date;
    };
    const moment moments[] = {
        {2211753600, (60 << 9) | (2 << 5) | 2},   // 2040-02-02, past the signed range
        {4115491200, (120 << 9) | (6 << 5) | 1},  // 2100-06-01
#ifndef _WIN32                                    // Wine sets no time before 1970
        {-86400, (0 << 9) | (1 << 5) | 1},        // 1969-12-31: DOS dates start in 1980
#endif
        {1600000000, (40 << 9) | (9 << 5) | 13},  // 2020-09-13, either way the same
    };
    for (const moment& m : moments) {
        archive_builder builder;
        entry e = stored_entry("t", "x");
        e.date = m.dos_date;
        e.time = 0x6000;
        // Extended timestamp: tag "UT", 5 bytes, flags 1, the time in 32 bits.
        e.extra = bytes().u16(0x5455).u16(5).u8(1).u32(static_cast<std::uint32_t>(m.seconds)).str();
        builder.entries = {e};
        ASSERT_EQ(run(builder).failure, "") << m.seconds;
        EXPECT_EQ(modified_seconds(destination() / "t"), m.seconds);
        fs::remove_all(destination());
    }
}

}  // namespace
