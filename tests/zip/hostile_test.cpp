// Archives made to trick a reader: entries that share bytes, Zip64 records
// that point or count beyond what the file holds, links that lead out of
// the destination, and links a user already has in it. Each ends in one
// clear error before anything is written, or extracts without writing
// anything outside the destination.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>

#include "tests/zip/walk_fixture.h"

namespace {

using namespace zip_test;
using tree_type = walk_fixture::tree_type;

class hostile : public walk_fixture {
protected:
    void expect_refused(archive_builder& builder, const std::string& failure) {
        EXPECT_EQ(run(builder).failure, failure);
        EXPECT_TRUE(extracted().empty());
        EXPECT_TRUE(strays().empty());
        fs::remove_all(destination());
    }
};

// Offsets in the file of the central records, in order.
std::vector<std::size_t> central_offsets(const std::string& file, std::size_t count) {
    std::vector<std::size_t> found;
    std::size_t at = file.find("PK\x01\x02");
    while (at != std::string::npos && found.size() < count) {
        found.push_back(at);
        at = file.find("PK\x01\x02", at + 4);
    }
    return found;
}

void put32(std::string& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(value >> (8 * i));
}

const std::string overlap = "format::zip::archive: entries overlap each other or the central directory";

// Hazard: the overlapped-components bomb: records whose data ranges share
// bytes, so that a small file expands into many times its size.
TEST_F(hostile, two_records_of_one_local_header_are_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "x"), stored_entry("a", "x")};
    std::string file = builder.build();
    put32(file, central_offsets(file, 2)[1] + 42, 0);  // the second record names the first header
    EXPECT_EQ(run_file(file).failure, overlap);
    EXPECT_TRUE(extracted().empty());
}

TEST_F(hostile, data_that_quotes_the_next_local_header_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "aaaa"), stored_entry("b", "bbbb")};
    std::string file = builder.build();
    // The first entry's compressed size now covers the second one's header.
    put32(file, central_offsets(file, 2)[0] + 20, 4 + 30 + 1);
    EXPECT_EQ(run_file(file).failure, overlap);
    EXPECT_TRUE(extracted().empty());
}

TEST_F(hostile, data_that_runs_into_the_central_directory_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "aaaa")};
    std::string file = builder.build();
    put32(file, central_offsets(file, 1)[0] + 20, 4 + 10);
    EXPECT_EQ(run_file(file).failure, overlap);
    EXPECT_TRUE(extracted().empty());
}

// Hazard: a folder entry whose name an earlier file took was reported as
// done, though the folder was never made.
TEST_F(hostile, a_folder_entry_over_a_file_of_its_name_is_an_error) {
    archive_builder builder;
    builder.entries = {stored_entry("same", "x"), stored_entry("same/", "")};
    const outcome result = run(builder);
    EXPECT_EQ(result.failure.rfind("format::zip::archive: cannot create the folder ", 0), 0u) << result.failure;
    EXPECT_NE(result.failure.find("something else of that name exists"), std::string::npos);
}

// Zip64 records are bounded by the file like any other: a locator that
// points outside it, a count that needs more bytes than the directory has,
// sizes that overflow an offset.
TEST_F(hostile, a_zip64_locator_pointing_outside_the_file_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "x")};
    builder.zip64_end = true;
    builder.zip64_end_offset = std::int64_t{1} << 40;
    expect_refused(builder, "format::zip::archive: cannot locate the Zip64 end record");
}

TEST_F(hostile, a_zip64_count_larger_than_its_directory_is_refused_before_reading) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "x")};
    builder.zip64_end = true;
    builder.zip64_total_entries = std::int64_t{1} << 50;  // 46 bytes each: more than any file
    expect_refused(builder, "format::zip::archive: the central directory holds fewer entries than the end record says");
}

// A Zip64 extra field: tag 1, then the 8-byte values given.
std::string zip64_extra(std::vector<std::uint64_t> values) {
    bytes block;
    block.u16(0x0001).u16(static_cast<std::uint32_t>(values.size() * 8));
    for (std::uint64_t v : values) block.u64(v);
    return block.str();
}

TEST_F(hostile, a_zip64_extra_field_too_short_for_its_markers_is_refused) {
    archive_builder builder;
    entry e = stored_entry("a", "x");
    builder.entries = {e};
    builder.settle();
    builder.entries[0].compressed_size = 0xFFFFFFFF;
    builder.entries[0].uncompressed_size = 0xFFFFFFFF;
    builder.entries[0].central_extra = zip64_extra({1});  // one value where two are due
    builder.entries[0].central_extra_set = true;
    expect_refused(builder, "format::zip::central_header: bad Zip64 extra field");
}

TEST_F(hostile, zip64_sizes_that_overflow_an_offset_are_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "x")};
    builder.settle();
    builder.entries[0].compressed_size = 0xFFFFFFFF;
    builder.entries[0].central_extra = zip64_extra({~std::uint64_t{0}});
    builder.entries[0].central_extra_set = true;
    expect_refused(builder, "format::zip::archive: sizes or offsets beyond any file: a");
}

TEST_F(hostile, zip64_records_are_followed_to_every_entry) {
    archive_builder builder;
    builder.prefix = "PROGRAM";
    builder.entries = {stored_entry("one", "1"), deflated_entry("two", "2")};
    builder.settle();
    // The second entry's sizes and offset only in its Zip64 extra field.
    entry& two = builder.entries[1];
    two.central_extra = zip64_extra({two.uncompressed_size, two.compressed_size, two.offset});
    two.central_extra_set = true;
    two.uncompressed_size = two.compressed_size = two.offset = 0xFFFFFFFF;
    builder.zip64_end = true;
    // build() would settle the offsets again: write it by hand instead.
    bytes file;
    file.text(builder.prefix);
    std::size_t at = 0;
    std::vector<std::uint32_t> offsets;
    for (entry e : builder.entries) {
        if (e.offset == 0xFFFFFFFF) e.compressed_size = e.uncompressed_size = 0;
        offsets.push_back(static_cast<std::uint32_t>(at));
        entry local = e;
        local.compressed_size = static_cast<std::uint32_t>(e.data.size());
        local.uncompressed_size = static_cast<std::uint32_t>(e.content.size());
        const std::string bytes_of = archive_builder::local(local).str();
        file.text(bytes_of);
        at += bytes_of.size();
    }
    const std::size_t directory = at;
    for (const entry& e : builder.entries) file.append(archive_builder::central(e));
    const std::size_t size = file.size() - builder.prefix.size() - directory;
    file.u32(0x06064B50).u64(44).u16(0x032D).u16(45).u32(0).u32(0).u64(2).u64(2).u64(size).u64(directory);
    file.u32(0x07064B50).u32(0).u64(directory + size).u32(1);
    file.u32(0x06054B50).u16(0).u16(0).u16(0xFFFF).u16(0xFFFF).u32(0xFFFFFFFF).u32(0xFFFFFFFF).u16(0);
    const outcome result = run_file(file.str(), builder.prefix.size());
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"one", "1"}, {"two", "2"}}));
}

#ifndef _WIN32

mode_t umask_now() {
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

mode_t mode_of(const fs::path& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

entry link_entry(const std::string& name, const std::string& target) {
    entry e = stored_entry(name, target);
    e.external = 0120777u << 16;
    return e;
}

entry with_mode(entry e, std::uint32_t mode) {
    e.external = mode << 16;
    return e;
}

TEST_F(hostile, links_become_links_and_keep_their_target) {
    archive_builder builder;
    builder.entries = {stored_entry("sub/", ""), stored_entry("sub/t.txt", "target"), link_entry("l", "sub/t.txt"),
                       link_entry("sub/up", "../l")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(fs::read_symlink(destination() / "l"), "sub/t.txt");
    EXPECT_EQ(fs::read_symlink(destination() / "sub" / "up"), "../l");
    EXPECT_EQ(read_file(destination() / "l"), "target");
}

// Hazard: a link made by the archive that points outside the destination,
// directly or through ".." from its own folder, then written through.
TEST_F(hostile, links_that_leave_the_destination_are_refused_before_anything_is_written) {
    const std::vector<std::pair<std::string, std::string>> escapes = {
        {"l", "/etc/passwd"}, {"l", ".."}, {"a/l", "../../x"}, {"l", "sub/../../x"}, {"l", "./../x"}, {"l", ""}};
    for (const auto& [name, target] : escapes) {
        archive_builder builder;
        builder.entries = {stored_entry("first.txt", "1"), link_entry(name, target)};
        expect_refused(builder, "format::zip::archive: symbolic link \"" + name + "\" points outside the destination");
    }
}

TEST_F(hostile, a_link_to_a_link_that_leaves_is_refused) {
    archive_builder builder;
    builder.entries = {link_entry("a", "b"), link_entry("b", "..")};
    expect_refused(builder, "format::zip::archive: symbolic link \"b\" points outside the destination");
}

// Hazard: the classic escape: a link "evil" to a folder, then "evil/file".
TEST_F(hostile, entries_below_a_link_of_the_archive_are_refused_in_either_order) {
    for (bool link_first : {true, false}) {
        archive_builder builder;
        const entry link = link_entry("evil", "sub");
        const entry below = stored_entry("evil/file", "escaped");
        builder.entries = {stored_entry("sub/", "")};
        builder.entries.push_back(link_first ? link : below);
        builder.entries.push_back(link_first ? below : link);
        expect_refused(builder, "format::zip::archive: entry \"evil/file\" lies below a symbolic link of the archive");
    }
}

TEST_F(hostile, a_link_replaced_by_a_later_entry_of_its_name_becomes_that_file) {
    archive_builder builder;
    builder.entries = {stored_entry("inside.txt", "in"), link_entry("a", "inside.txt"), stored_entry("a", "content")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_TRUE(S_ISREG(mode_of(destination() / "a")));
    EXPECT_EQ(read_file(destination() / "a"), "content");
    EXPECT_EQ(read_file(destination() / "inside.txt"), "in");
}

// Hazard: a file entry whose name is a link the user has in the
// destination was written through it: a dangling link created its target
// outside, a link to a file overwrote that file.
TEST_F(hostile, an_existing_link_in_the_destination_is_replaced_not_written_through) {
    fs::create_directories(destination());
    write_file(folder.native("kept.txt"), "keep");
    fs::create_symlink("../dangling.txt", destination() / "f");
    fs::create_symlink("../kept.txt", destination() / "g");
    archive_builder builder;
    builder.entries = {stored_entry("f", "new f"), stored_entry("g", "new g")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_TRUE(S_ISREG(mode_of(destination() / "f")));
    EXPECT_TRUE(S_ISREG(mode_of(destination() / "g")));
    EXPECT_EQ(read_file(destination() / "g"), "new g");
    EXPECT_FALSE(fs::exists(folder.native("dangling.txt")));
    EXPECT_EQ(read_file(folder.native("kept.txt")), "keep");
}

// Hazard: a folder entry named like the user's link to an outside folder
// changed that folder's mode and time.
TEST_F(hostile, times_and_modes_are_never_set_through_a_link) {
    const fs::path outside = folder.native("outside");
    fs::create_directories(outside);
    fs::create_directories(destination());
    fs::create_symlink("../outside", destination() / "d");
    chmod(outside.c_str(), 0555);
    const std::int64_t before = modified_seconds(outside);
    archive_builder builder;
    builder.entries = {with_mode(stored_entry("d/", ""), 040700)};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(mode_of(outside) & 07777, 0555u);
    EXPECT_EQ(modified_seconds(outside), before);
    chmod(outside.c_str(), 0755);
}

TEST_F(hostile, unix_modes_are_applied_without_special_bits) {
    archive_builder builder;
    entry dos = with_mode(stored_entry("dos.txt", "d"), 0100755);
    dos.made_by = 0x0014;  // made on MS-DOS: the high bits are no mode
    builder.entries = {with_mode(stored_entry("run.sh", "#!/bin/sh\n"), 0100755),
                       with_mode(stored_entry("setuid", "s"), 0104755), with_mode(stored_entry("ro/", ""), 040555),
                       with_mode(stored_entry("ro/inside", "i"), 0100444), dos};
    ASSERT_EQ(run(builder).failure, "");
    const mode_t mask = umask_now();
    EXPECT_EQ(mode_of(destination() / "run.sh") & 07777, 0755u & ~mask);
    EXPECT_EQ(mode_of(destination() / "setuid") & 07777, 0755u & ~mask);
    // The folder stayed writable until its file was in it.
    EXPECT_EQ(read_file(destination() / "ro" / "inside"), "i");
    EXPECT_EQ(mode_of(destination() / "ro") & 07777, 0555u & ~mask);
    EXPECT_EQ(mode_of(destination() / "ro" / "inside") & 07777, 0444u & ~mask);
    EXPECT_EQ(mode_of(destination() / "dos.txt") & 07777, 0666u & ~mask);
    chmod((destination() / "ro").c_str(), 0755);
}

#else

// Windows programs may not make links: a link entry is a file holding its
// target's text, as other Windows tools write it.
TEST_F(hostile, link_entries_are_files_holding_their_target_on_windows) {
    archive_builder builder;
    entry link = stored_entry("l", "sub/t.txt");
    link.external = 0120777u << 16;
    builder.entries = {link, stored_entry("l2/", "")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"l", "sub/t.txt"}, {"l2", "<dir>"}}));
}

#endif  // _WIN32

// Extended timestamp (0x5455): flag bit 0, then the modification time in
// seconds since 1970 UTC.
std::string unix_time_extra(std::uint32_t seconds) { return bytes().u16(0x5455).u16(5).u8(1).u32(seconds).str(); }

// NTFS (0x000a): 4 reserved bytes, tag 1 of 24 bytes: modification, access
// and creation times in 100 ns since 1601.
std::string ntfs_extra(std::int64_t unix_seconds) {
    const auto ticks = static_cast<std::uint64_t>(io::time::unix_epoch + unix_seconds * io::time::ticks_per_second);
    return bytes().u16(0x000A).u16(32).u32(0).u16(1).u16(24).u64(ticks).u64(ticks).u64(ticks).str();
}

// Hazard: the DOS time is local time; applied in another zone it is hours
// off. The UTC time of the extra fields is what was meant.
TEST_F(hostile, utc_times_of_the_extra_fields_win_over_the_dos_time) {
    archive_builder builder;
    entry ut = stored_entry("ut.txt", "u");
    ut.extra = unix_time_extra(1600000000);
    entry ntfs = stored_entry("ntfs.txt", "n");
    ntfs.extra = ntfs_extra(1500000000);
    entry central_only = stored_entry("central.txt", "c");
    central_only.central_extra = unix_time_extra(1400000000);
    central_only.central_extra_set = true;
    entry folder_entry = stored_entry("dir/", "");
    folder_entry.extra = unix_time_extra(1300000000);
    builder.entries = {ut, ntfs, central_only, folder_entry, stored_entry("dos.txt", "d")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(modified_seconds(destination() / "ut.txt"), 1600000000);
    EXPECT_EQ(modified_seconds(destination() / "ntfs.txt"), 1500000000);
    EXPECT_EQ(modified_seconds(destination() / "central.txt"), 1400000000);
    EXPECT_EQ(modified_seconds(destination() / "dir"), 1300000000);
    EXPECT_EQ(modified_seconds(destination() / "dos.txt"), dos_seconds(dos_date, dos_time));
}

// Hazard: an NTFS time past 2^63 became a negative time whose conversion
// to Unix seconds overflowed. It is ignored: the UT time or the DOS time
// counts instead.
TEST_F(hostile, an_ntfs_time_beyond_any_clock_gives_way_to_the_other_times) {
    const std::string past_2_63 = bytes().u16(0x000A).u16(32).u32(0).u16(1).u16(24).u64(~0ull).u64(0).u64(0).str();
    archive_builder builder;
    entry with_ut = stored_entry("ut.txt", "u");
    with_ut.extra = past_2_63 + unix_time_extra(1600000000);
    entry dos_only = stored_entry("dos.txt", "d");
    dos_only.extra = past_2_63;
    builder.entries = {with_ut, dos_only};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(modified_seconds(destination() / "ut.txt"), 1600000000);
    EXPECT_EQ(modified_seconds(destination() / "dos.txt"), dos_seconds(dos_date, dos_time));
}

}  // namespace
