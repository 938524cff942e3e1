// The whole walk over hand-made archives written to a scratch folder: what
// is extracted, the events sent to the owner, every refusal with its exact
// message, and that nothing is ever written outside the destination.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "stream/fork_input.h"
#include "tests/zip/walk_fixture.h"
#include "zip/archive.h"

namespace {

using namespace zip_test;
using tree_type = walk_fixture::tree_type;

class archive_walk : public walk_fixture {};

TEST_F(archive_walk, extracts_files_and_folders_in_directory_order) {
    archive_builder builder;
    builder.entries = {stored_entry("empty/", ""), stored_entry("sub/", ""), stored_entry("top.txt", "top level"),
                       deflated_entry("sub/deeper/file.bin", std::string(5000, 'z')), stored_entry("zero", "")};
    const outcome result = run(builder);
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"empty", "<dir>"},
                                      {"top.txt", "top level"},
                                      {"sub", "<dir>"},
                                      {"sub/deeper", "<dir>"},
                                      {"sub/deeper/file.bin", std::string(5000, 'z')},
                                      {"zero", ""}}));
    ASSERT_EQ(result.entered.size(), 3u);
    EXPECT_EQ(result.entered[0], to_io(destination() / "top.txt").join().to_utf8());
    EXPECT_EQ(result.entered[1], to_io(destination() / "sub" / "deeper" / "file.bin").join().to_utf8());
    EXPECT_EQ(result.asked, 0);
    EXPECT_EQ(result.position_after, fs::file_size(archive_path));
    const std::int64_t expected = dos_seconds(dos_date, dos_time);
    EXPECT_EQ(modified_seconds(destination() / "top.txt"), expected);
    EXPECT_EQ(modified_seconds(destination() / "sub" / "deeper" / "file.bin"), expected);
    EXPECT_EQ(modified_seconds(destination() / "empty"), expected);
    // Writing "sub/deeper" after the folder entry "sub/" changed its time;
    // the entry's time is what it must keep.
    EXPECT_EQ(modified_seconds(destination() / "sub"), expected);
}

TEST_F(archive_walk, progress_comes_every_32768_bytes_and_once_per_entry) {
    archive_builder builder;
    builder.entries = {stored_entry("big", std::string(300000, 'b')), stored_entry("small", "s")};
    const outcome result = run(builder);
    ASSERT_EQ(result.failure, "");
    // Data of "big" starts after its 33-byte local header and is read in
    // pieces of 262144 bytes: a report after each piece (at most one per
    // read), the final one at the end of the entry, then "small"'s.
    const std::uint64_t start = 30 + 3;
    EXPECT_EQ(result.positions, (std::vector<std::uint64_t>{start + 262144, start + 300000, start + 300000,
                                                            start + 300000 + 30 + 5 + 1}));
}

// Files of one folder are created without looking for the folder again:
// one that went away in between must still be made again.
TEST_F(archive_walk, a_folder_removed_between_two_of_its_files_is_made_again) {
    archive_builder builder;
    builder.entries = {stored_entry("d/a", "first"), stored_entry("d/b", "second")};
    archive_path = folder.native("archive.exe");
    write_file(archive_path, builder.build());
    class removing_extractor : public recording_extractor {
    public:
        removing_extractor(io::file& file, fs::path folder) : recording_extractor(file), folder_(std::move(folder)) {}
        bool entering(const io::path& path) override {
            if (!entered.empty()) fs::remove_all(folder_);
            return recording_extractor::entering(path);
        }

    private:
        fs::path folder_;
    };
    io::file file(to_io(archive_path));
    file.data_fork().open();
    removing_extractor extractor(file, destination() / "d");
    extractor.extract(io::directory(to_io(destination())));
    file.data_fork().close(false);
    EXPECT_EQ(extracted(), (tree_type{{"d", "<dir>"}, {"d/b", "second"}}));
}

// What the extraction tells `entering` about each name: new only when
// nothing of that name, nor a side file of it, is there; a name the run made
// itself (an earlier entry) is not new. And a file someone else
// makes after the extraction looked is never overwritten.
TEST_F(archive_walk, a_name_is_new_only_when_nothing_of_it_is_there) {
    class asking_extractor : public recording_extractor {
    public:
        asking_extractor(io::file& file, fs::path intruder)
            : recording_extractor(file), intruder_(std::move(intruder)) {}
        bool entering(const io::path& path) override {
            news.push_back(surely_new());
            if (path.components().back().to_utf8() == "late.txt") write_file(intruder_, "someone else's");
            return recording_extractor::entering(path);
        }
        std::vector<bool> news;

    private:
        fs::path intruder_;
    };
    write_file(destination() / "old.txt", "old");
    write_file(destination() / "sided.info", "side");
    write_file(destination() / "in" / "old.txt", "old");
    archive_builder builder;
    builder.entries = {stored_entry("new.txt", "1"), stored_entry("old.txt", "2"),    stored_entry("sided", "3"),
                       stored_entry("new.txt", "4"), stored_entry("in/old.txt", "5"), stored_entry("in/new", "6"),
                       stored_entry("late.txt", "7")};
    archive_path = folder.native("archive.exe");
    write_file(archive_path, builder.build());
    io::file file(to_io(archive_path));
    file.data_fork().open();
    asking_extractor extractor(file, destination() / "late.txt");
    std::string failure;
    try {
        extractor.extract(io::directory(to_io(destination())));
    } catch (const un::exception& error) {
        failure = error.message;
    }
    file.data_fork().close(false);
    EXPECT_EQ(extractor.news, (std::vector<bool>{true, false, false, false, false, true, true}));
    EXPECT_NE(failure.find("late.txt"), std::string::npos) << failure;
    EXPECT_EQ(read_file(destination() / "late.txt"), "someone else's");
    EXPECT_EQ(read_file(destination() / "new.txt"), "4");
    EXPECT_EQ(read_file(destination() / "in" / "new"), "6");
}

TEST_F(archive_walk, an_archive_of_folders_only_sends_no_event) {
    archive_builder builder;
    builder.entries = {stored_entry("a/", ""), stored_entry("a/b/", "")};
    const outcome result = run(builder);
    ASSERT_EQ(result.failure, "");
    EXPECT_TRUE(result.entered.empty());
    EXPECT_TRUE(result.positions.empty());
    EXPECT_EQ(extracted(), (tree_type{{"a", "<dir>"}, {"a/b", "<dir>"}}));
}

TEST_F(archive_walk, both_offset_forms_are_found_behind_a_program) {
    for (bool absolute : {false, true}) {
        archive_builder builder;
        builder.prefix = std::string(3000, 'P');
        builder.absolute_offsets = absolute;
        builder.entries = {deflated_entry("f.txt", "behind a program")};
        const outcome result = run(builder);
        ASSERT_EQ(result.failure, "") << absolute;
        EXPECT_EQ(extracted(), (tree_type{{"f.txt", "behind a program"}}));
        fs::remove_all(destination());
    }
}

// An archive whose start is not known (a zip behind a program of its own)
// begins where its offsets count from; offsets counted from the file's start
// leave the base where it was. The Zip64 end record is looked for right
// before its locator first, where every writer puts it.
TEST_F(archive_walk, find_base_puts_the_base_where_the_offsets_count_from) {
    const struct {
        const char* hazard;
        bool absolute, zip64;
        std::int64_t zip64_end_offset;
        std::uint64_t base;
    } cases[] = {
        {"relative", false, false, -1, 3000},
        {"absolute", true, false, -1, 0},
        {"relative, Zip64", false, true, -1, 3000},
        {"absolute, Zip64", true, true, -1, 0},
        {"Zip64 locator pointing before its record", false, true, 12, 3000},
    };
    for (const auto& c : cases) {
        archive_builder builder;
        builder.prefix = std::string(3000, 'P');
        builder.absolute_offsets = c.absolute;
        builder.zip64_end = c.zip64;
        builder.zip64_end_offset = c.zip64_end_offset;
        builder.entries = {stored_entry("f.txt", "behind a program")};
        archive_path = folder.native("found.zip");
        write_file(archive_path, builder.build());
        io::file file(to_io(archive_path));
        file.data_fork().open();
        stream::fork_input input(file.data_fork());
        format::zip::archive reader(input);
        EXPECT_EQ(reader.find_base(), c.base) << c.hazard;
        EXPECT_EQ(reader.base_position(), c.base) << c.hazard;
    }
}

TEST_F(archive_walk, offsets_that_fit_neither_form_lose_the_directory) {
    archive_builder builder;
    builder.prefix = "PROGRAM";
    builder.entries = {stored_entry("f", "x")};
    builder.directory_offset = 5;
    EXPECT_EQ(run(builder).failure, "format::zip::archive: cannot locate the central directory");
}

TEST_F(archive_walk, a_file_without_an_end_record_is_refused) {
    archive_path = folder.native("tiny");
    write_file(archive_path, std::string(21, 'x'));
    EXPECT_EQ(extract(archive_path, destination()).failure, "format::zip::archive: cannot locate the end header");
}

// Hazard: the program holds the end record signature (and a whole record)
// in its own bytes; with no archive appended it must not extract from it.
TEST_F(archive_walk, a_program_with_nothing_appended_has_no_end_record) {
    archive_builder inner;
    inner.entries = {stored_entry("inside-the-program", "x")};
    const std::string program = "MZ code " + inner.build() + " more code";
    archive_path = folder.native("program.exe");
    write_file(archive_path, program);
    EXPECT_EQ(extract(archive_path, destination(), program.size()).failure,
              "format::zip::archive: cannot locate the end header: no archive follows the program");
    EXPECT_TRUE(extracted().empty());
}

// Hazard: a comment holding a complete end record that describes another
// directory must not replace the archive's own.
TEST_F(archive_walk, a_fake_end_record_in_the_comment_is_not_followed) {
    archive_builder decoy;
    decoy.entries = {stored_entry("decoy", "wrong")};
    const std::string decoy_file = decoy.build();
    archive_builder builder;
    builder.entries = {stored_entry("real", "right")};
    builder.comment = "comment " + decoy_file.substr(decoy_file.size() - 22, 22) + " end";
    const outcome result = run(builder);
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"real", "right"}}));
}

TEST_F(archive_walk, an_empty_archive_extracts_nothing) {
    archive_builder builder;
    EXPECT_EQ(run(builder).failure, "");
    EXPECT_TRUE(extracted().empty());
}

// Hazard: an end record at the file's very start was taken for an empty
// archive unread, so a zip packed from it read differently behind a stub.
TEST_F(archive_walk, an_end_record_at_the_start_of_the_file_is_read_like_any_other) {
    archive_builder builder;
    std::string file = builder.build();
    ASSERT_EQ(file.rfind("PK\x05\x06"), 0u);
    EXPECT_EQ(run_file(file).failure, "");
    file[4] = 1;  // this disk
    EXPECT_EQ(run_file(file).failure, "format::zip::archive: segmented multi-part archives are not supported");
    EXPECT_TRUE(extracted().empty());
}

// Hazard: a directory size that reaches into the end record and its
// comment, where a central record can be planted.
TEST_F(archive_walk, a_directory_running_into_its_end_record_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("one", "1")};
    std::string file = builder.build();
    const std::size_t end = file.rfind("PK\x05\x06");
    const std::uint32_t size = static_cast<std::uint8_t>(file[end + 12]) + 22;
    file[end + 12] = static_cast<char>(size);
    EXPECT_EQ(run_file(file).failure, "format::zip::archive: cannot locate the central directory");
    EXPECT_TRUE(extracted().empty());
}

// Hazard: counts and sizes of the end record that disagree with the
// records read extracted nothing or a part and reported success.
TEST_F(archive_walk, an_end_record_counting_entries_of_an_empty_directory_is_refused) {
    archive_builder builder;
    builder.prefix = "P";
    builder.total_entries = 3;
    EXPECT_EQ(run(builder).failure,
              "format::zip::archive: the central directory holds fewer entries than the end record says");
    EXPECT_TRUE(extracted().empty());
}

TEST_F(archive_walk, a_directory_with_more_records_than_counted_is_refused_before_extraction) {
    for (int count : {0, 1}) {
        archive_builder builder;
        builder.entries = {stored_entry("one", "1"), stored_entry("two", "2")};
        builder.total_entries = count;
        EXPECT_EQ(run(builder).failure,
                  count == 0
                      ? "format::zip::archive: the central directory holds fewer entries than the end record says"
                      : "format::zip::archive: the central directory holds more entries than the end record says")
            << count;
        EXPECT_TRUE(extracted().empty()) << count;
    }
}

TEST_F(archive_walk, a_directory_size_that_cuts_a_record_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("one", "1"), stored_entry("two", "2")};
    std::string file = builder.build();
    // The end record's directory size, 4 bytes short of the second record.
    const std::size_t size_field = file.size() - 22 + 12;
    file[size_field] = static_cast<char>(file[size_field] - 4);
    archive_path = folder.native("a.zip");
    write_file(archive_path, file);
    EXPECT_NE(extract(archive_path, destination()).failure, "");
    EXPECT_TRUE(extracted().empty());
}

TEST_F(archive_walk, multi_disk_archives_are_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("f", "x")};
    builder.this_disk = 1;
    EXPECT_EQ(run(builder).failure, "format::zip::archive: segmented multi-part archives are not supported");
}

TEST_F(archive_walk, unknown_methods_in_the_directory_stop_everything_before_extraction) {
    const std::pair<std::uint16_t, const char*> methods[] = {
        {7, "7 (method 7)"}, {11, "11 (method 11)"}, {12, "12 (bzip2)"}, {99, "99 (AES encrypted)"}};
    for (const auto& [method, named] : methods) {
        archive_builder builder;
        entry bad = stored_entry("bad", "x");
        bad.method = method;
        builder.entries = {stored_entry("good", "g"), bad};
        EXPECT_EQ(run(builder).failure,
                  std::string("format::zip::archive: unsupported compression method ") + named + ": bad")
            << method;
        EXPECT_TRUE(extracted().empty()) << method;
    }
    archive_builder builder;
    entry too_new = stored_entry("new", "x");
    too_new.version = 0x0A2E;  // the low byte, 46, counts
    builder.entries = {too_new};
    EXPECT_EQ(run(builder).failure,
              "format::zip::archive: unsupported compression method 0 (stored), version 4.6 needed: new");
}

// Hazard: methods the format defines but the stub cannot decode (implode,
// Deflate64, bzip2...) passed the directory scan and failed in the middle of
// the extraction, after the files before them were written.
TEST_F(archive_walk, every_method_the_stub_cannot_decode_is_refused_before_anything_is_written) {
    const std::pair<std::uint16_t, const char*> methods[] = {
        {1, "1 (shrunk)"}, {6, "6 (imploded)"}, {10, "10 (PKWARE imploded)"}, {0xFFFF, "65535 (method 65535)"}};
    for (const auto& [method, named] : methods) {
        archive_builder builder;
        entry e = stored_entry("f", "x");
        e.method = method;
        builder.entries = {stored_entry("first", "1"), e};
        EXPECT_EQ(run(builder).failure,
                  std::string("format::zip::archive: unsupported compression method ") + named + ": f")
            << method;
        EXPECT_TRUE(extracted().empty()) << method;
    }
}

TEST_F(archive_walk, a_local_header_that_is_not_there_is_refused) {
    archive_builder builder;
    builder.entries = {stored_entry("f", "x")};
    builder.settle();
    builder.entries[0].offset = 7;
    std::string file = builder.build();
    // build() recomputes offsets: patch the central record's offset field.
    const std::size_t central = file.size() - 22 - (46 + 1);
    file[central + 42] = 7;
    archive_path = folder.native("a.zip");
    write_file(archive_path, file);
    EXPECT_EQ(extract(archive_path, destination()).failure, "format::zip::archive: cannot locate a local header: f");
}

TEST_F(archive_walk, a_local_header_with_an_unknown_method_is_bad) {
    archive_builder builder;
    builder.entries = {stored_entry("f", "x")};
    std::string file = builder.build();
    file[8] = 7;  // the local header's method; the central record says stored
    archive_path = folder.native("a.zip");
    write_file(archive_path, file);
    EXPECT_EQ(extract(archive_path, destination()).failure, "format::zip::archive: bad local header: f");
}

TEST_F(archive_walk, a_broken_central_record_stops_everything_before_extraction) {
    archive_builder builder;
    builder.entries = {stored_entry("one", "1"), stored_entry("two", "2")};
    std::string file = builder.build();
    const std::size_t second = file.size() - 22 - (46 + 3);
    file[second + 2] = 9;  // signature PK 9 2
    archive_path = folder.native("a.zip");
    write_file(archive_path, file);
    EXPECT_EQ(extract(archive_path, destination()).failure, "format::zip::central_header: bad header artfact");
    EXPECT_TRUE(extracted().empty());
}

TEST_F(archive_walk, a_directory_that_claims_more_records_than_the_file_holds_ends_cleanly) {
    archive_builder builder;
    builder.entries = {stored_entry("one", "1")};
    builder.total_entries = 5;
    EXPECT_NE(run(builder).failure, "");
    EXPECT_TRUE(extracted().empty());
}

// Hazard: an end record whose comment runs past the end of the file (it was
// cut); its fields must not be used half-read.
TEST_F(archive_walk, an_end_record_cut_in_its_comment_reports_the_end_of_file) {
    archive_builder builder;
    builder.entries = {stored_entry("one", "1")};
    builder.comment = "0123456789";
    std::string file = builder.build();
    file.resize(file.size() - 5);
    archive_path = folder.native("a.zip");
    write_file(archive_path, file);
    EXPECT_EQ(extract(archive_path, destination()).failure, "stream::safe_input: unexpected end of file");
}

// Every prefix of an archive, and every archive with one byte changed, ends
// in an exception or a clean extraction, never outside the destination.
TEST_F(archive_walk, truncated_and_damaged_archives_fail_cleanly) {
    archive_builder builder;
    builder.entries = {stored_entry("d/", ""), deflated_entry("d/f", "deflated content"),
                       with_descriptor(deflated_entry("g", "described")), encrypted(stored_entry("e", "secret"), "pw")};
    const std::string file = builder.build();
    int failures = 0;
    for (std::size_t length = 0; length < file.size(); ++length) {
        archive_path = folder.native("a.zip");
        write_file(archive_path, file.substr(0, length));
        if (!extract(archive_path, destination(), 0, "pw").failure.empty()) ++failures;
        EXPECT_TRUE(strays().empty()) << length;
        fs::remove_all(destination());
    }
    EXPECT_EQ(failures, static_cast<int>(file.size()));
    for (std::size_t at = 0; at < file.size(); ++at) {
        std::string damaged = file;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        archive_path = folder.native("a.zip");
        write_file(archive_path, damaged);
        extract(archive_path, destination(), 0, "pw");
        EXPECT_TRUE(strays().empty()) << at;
        fs::remove_all(destination());
    }
}

TEST_F(archive_walk, names_that_leave_the_destination_are_refused_before_anything_is_created) {
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "..", "../", "..\\evil.txt", "a\\..\\..\\evil.txt",
                             "/../evil.txt", "ok/../../../evil.txt"}) {
        archive_builder builder;
        builder.entries = {stored_entry("first.txt", "harmless"), stored_entry(name, "evil")};
        EXPECT_EQ(run(builder).failure, std::string("format::zip::archive: unsafe entry name \"") + name + "\"")
            << name;
        EXPECT_TRUE(extracted().empty()) << name;
        EXPECT_TRUE(strays().empty()) << name;
    }
}

// Hazard: the central directory holds a harmless name, the local header
// another; a listing shows the first, extraction would write the second.
TEST_F(archive_walk, a_local_name_that_differs_from_the_central_one_is_refused_before_extraction) {
    for (const char* local : {"../evil.txt", "other.txt", "SAFE.txt"}) {
        archive_builder builder;
        entry e = stored_entry("safe.txt", "evil");
        e.local_name = local;
        builder.entries = {stored_entry("first.txt", "1"), e};
        EXPECT_EQ(run(builder).failure,
                  std::string("format::zip::archive: file name in directory \"safe.txt\" and header \"") + local +
                      "\" differ")
            << local;
        EXPECT_TRUE(extracted().empty()) << local;
        EXPECT_TRUE(strays().empty()) << local;
    }
}

TEST_F(archive_walk, absolute_names_land_inside_the_destination) {
    archive_builder builder;
    builder.entries = {stored_entry("/x/y.txt", "inside")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"x", "<dir>"}, {"x/y.txt", "inside"}}));
    EXPECT_TRUE(strays().empty());
}

#ifdef _WIN32
TEST_F(archive_walk, drive_stream_and_device_names_are_refused_on_windows) {
    for (const char* name : {"C:/evil.txt", "C:evil.txt", "file.txt:stream", "CON", "aux.txt", "dir/LPT1.log"}) {
        archive_builder builder;
        builder.entries = {stored_entry(name, "evil")};
        EXPECT_EQ(run(builder).failure, std::string("format::zip::archive: unsafe entry name \"") + name + "\"")
            << name;
        EXPECT_TRUE(extracted().empty()) << name;
    }
}
#endif

TEST_F(archive_walk, names_are_decoded_as_their_writer_meant_them) {
    archive_builder builder;
    entry flagged = stored_entry("caf\xC3\xA9.txt", "utf-8 flag");
    flagged.flags = 0x0800;
    entry unflagged = stored_entry("\xCE\xB1\xCE\xB2\xCE\xB3.txt", "utf-8 without flag");
    builder.entries = {flagged, unflagged, stored_entry("\xE4\xB8\xAD/\xE6\x96\x87.txt", "cjk")};
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"caf\xC3\xA9.txt", "utf-8 flag"},
                                      {"\xCE\xB1\xCE\xB2\xCE\xB3.txt", "utf-8 without flag"},
                                      {"\xE4\xB8\xAD", "<dir>"},
                                      {"\xE4\xB8\xAD/\xE6\x96\x87.txt", "cjk"}}));
}

#ifndef _WIN32
TEST_F(archive_walk, code_page_437_names_come_out_as_utf8) {
    archive_builder builder;
    builder.entries = {stored_entry("na\x8Bve.txt", "dos name")};  // ï in code page 437
    ASSERT_EQ(run(builder).failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"na\xC3\xAFve.txt", "dos name"}}));
}
#endif

TEST_F(archive_walk, the_passphrase_is_asked_once_and_kept) {
    archive_builder builder;
    builder.entries = {stored_entry("plain", "p"), encrypted(stored_entry("one", "first secret"), "pw"),
                       encrypted(deflated_entry("two", "second secret"), "pw")};
    const outcome result = run(builder, "pw");
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(result.asked, 1);
    EXPECT_EQ(extracted(), (tree_type{{"plain", "p"}, {"one", "first secret"}, {"two", "second secret"}}));
}

TEST_F(archive_walk, a_wrong_passphrase_ends_the_extraction) {
    archive_builder builder;
    builder.entries = {encrypted(stored_entry("one", "secret"), "right"), stored_entry("after", "a")};
    const outcome result = run(builder, "wrong");
    EXPECT_EQ(result.failure, "format::zip::encryption_header: bad passphrase: one");
    EXPECT_EQ(result.asked, 1);
    // The passphrase is checked before the file is made: nothing is left.
    EXPECT_TRUE(extracted().empty());
}

// A damaged file is not left behind as if it had come out whole.
TEST_F(archive_walk, a_crc_mismatch_ends_the_extraction_and_removes_the_file) {
    archive_builder builder;
    entry e = deflated_entry("f", "content");
    e.crc = crc_of("content") + 1;
    builder.entries = {e, stored_entry("after", "a")};
    EXPECT_EQ(run(builder).failure, "format::zip::item_reader: CRC mismatch, data is invalid: f");
    EXPECT_TRUE(extracted().empty());
}

TEST_F(archive_walk, entries_with_descriptors_take_crc_and_size_from_the_directory) {
    archive_builder builder;
    builder.entries = {with_descriptor(deflated_entry("a", "first")), with_descriptor(stored_entry("b", "second")),
                       encrypted(with_descriptor(deflated_entry("c", "third")), "pw")};
    const outcome result = run(builder, "pw");
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"a", "first"}, {"b", "second"}, {"c", "third"}}));
}

TEST_F(archive_walk, unnamed_entries_take_the_archive_name) {
    archive_builder builder;
    builder.entries = {stored_entry("-", "from stdin")};
    ASSERT_EQ(run(builder, "", "data.zip").failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"data", "from stdin"}}));
}

// Hazard: an unnamed entry of a program not named .zip was written at the
// program's whole absolute path below the destination.
TEST_F(archive_walk, unnamed_entries_take_the_program_name_without_its_extension) {
    archive_builder builder;
    builder.entries = {stored_entry("", "no name")};
    ASSERT_EQ(run(builder, "", "data.run").failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"data", "no name"}}));
    EXPECT_TRUE(strays().empty());
}

// Hazard: extracted beside itself, a program without an extension would
// replace its own file with the entry.
TEST_F(archive_walk, an_unnamed_entry_never_takes_the_program_own_name) {
    archive_builder builder;
    builder.entries = {stored_entry("-", "no name")};
    ASSERT_EQ(run(builder, "", "installer").failure, "");
    EXPECT_EQ(extracted(), (tree_type{{"installer.out", "no name"}}));
}

TEST_F(archive_walk, a_folder_entry_creates_one_missing_parent_only) {
    archive_builder builder;
    builder.entries = {stored_entry("a/b/c/", "")};
    const outcome result = run(builder);
    EXPECT_EQ(result.failure.rfind("io::directory: cannot create ", 0), 0u) << result.failure;
    archive_builder file_entry;
    file_entry.entries = {stored_entry("a/b/c/file", "f")};
    ASSERT_EQ(run(file_entry).failure, "");
    EXPECT_EQ(read_file(destination() / "a" / "b" / "c" / "file"), "f");
}

}  // namespace
