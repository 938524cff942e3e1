// The listing and the test that quillon-pack and both stubs print, over
// hand-made archives: the exact lines, every kind of bad entry with its
// exact report, the passphrase asked for once, names that would act on a
// terminal, an archive that ends before the file does, and that nothing is
// ever written.
#include "zip/catalogue.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/vector_output.h"
#include "tests/zip/extraction.h"
#include "tests/zip/hand_made.h"

namespace {

using namespace zip_test;

// Asks for the passphrase like a stub: counts the questions.
class answering_events : public format::archive_events {
public:
    void passphrase_needed(std::string& passphrase) override {
        ++asked;
        if (cancel) throw quillon::self::evacuation();
        passphrase = answer;
    }
    std::string answer;
    bool cancel = false;
    int asked = 0;
};

class catalogue_test : public ::testing::Test {
protected:
    struct result {
        std::string text;
        std::size_t bad = 0;
        std::string failure;  // "where: message" when it threw
    };

    // Lists (or tests) the archive `builder` makes, behind its prefix.
    result run(archive_builder& builder, bool test, const std::string& passphrase = "",
               std::uint64_t end = format::zip::end_header::not_found, const std::string& after = "") {
        return run_bytes(builder.build() + after, builder.prefix.size(), test, passphrase, end);
    }

    // Lists or tests the file `bytes`, whose archive begins at `base`.
    result run_bytes(const std::string& bytes, std::uint64_t base, bool test, const std::string& passphrase = "",
                     std::uint64_t end = format::zip::end_header::not_found) {
        const fs::path file = folder.native("program.exe");
        write_file(file, bytes);
        io::file own(to_io(file));
        own.data_fork().open();
        own.data_fork().seek(base);
        format::zip::catalogue view(own, events);
        view.passphrase = passphrase;
        view.human_sizes = human_sizes;
        view.limit_to(end);
        std::vector<std::uint8_t> report;
        stream::vector_output out(report);
        result got;
        try {
            if (test)
                got.bad = view.test(out);
            else
                view.list(out);
        } catch (const un::exception& failure) {
            got.failure = failure.where + ": " + failure.message;
        }
        own.data_fork().close(false);
        got.text.assign(report.begin(), report.end());
        return got;
    }

    scratch folder;
    answering_events events;
    bool human_sizes = false;
};

// The lines of a report, each ended by a line break.
std::string lines(std::initializer_list<std::string> each) {
    std::string text;
    for (const std::string& line : each) text += line + "\n";
    return text;
}

std::string listed_time() { return format::zip::catalogue::local_time_text(io::time::from_dos(dos_date, dos_time)); }

TEST(catalogue_columns, times_are_local_and_zero_padded) {
    EXPECT_EQ(format::zip::catalogue::local_time_text(io::time::from_dos(dos_date, dos_time)), "2000-01-01 12:00");
    // 1980-02-03 04:05:06, to the minute
    EXPECT_EQ(
        format::zip::catalogue::local_time_text(io::time::from_dos((0 << 9) | (2 << 5) | 3, (4 << 11) | (5 << 5) | 3)),
        "1980-02-03 04:05");
}

TEST(catalogue_columns, long_texts_are_never_cut) {
    EXPECT_EQ(format::zip::catalogue::right_aligned("ab", 5), "   ab");
    EXPECT_EQ(format::zip::catalogue::right_aligned("abcdef", 5), "abcdef");
    EXPECT_EQ(format::zip::catalogue::left_aligned("ab", 5), "ab   ");
    EXPECT_EQ(format::zip::catalogue::left_aligned("abcdef", 5), "abcdef");
    EXPECT_EQ(format::zip::catalogue::method_name(12), "method 12");
}

// The name comes last; the columns are as wide as their widest value
// (the totals), and the encryption column is there only for archives with
// encrypted entries.
TEST_F(catalogue_test, the_listing_has_a_line_per_entry_and_the_totals) {
    archive_builder builder;
    builder.prefix = std::string(1000, 'P');
    builder.entries = {stored_entry("docs/", ""), deflated_entry("docs/a.txt", std::string(300, 'a')),
                       encrypted(stored_entry("secret", "hidden"), "pw")};
    const result got = run(builder, false);
    ASSERT_EQ(got.failure, "");
    const std::string when = listed_time();
    EXPECT_EQ(got.text, lines({"size  compressed  method    modified          enc  name",
                               "   0           0  stored    " + when + "       docs/",
                               " 300         305  deflated  " + when + "       docs/a.txt",
                               "   6          18  stored    " + when + "  yes  secret",
                               "----  ----------                                   -------",
                               " 306         323                                   3 entries"}));
    EXPECT_EQ(events.asked, 0);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"program.exe"});
}

// Archives from Unix show each entry's mode as ls does, and where each
// link points; entries without a mode leave the column blank.
TEST_F(catalogue_test, unix_modes_and_link_targets_are_listed) {
    archive_builder builder;
    entry folder_entry = stored_entry("bin/", "");
    folder_entry.external = 040750u << 16;
    entry script = stored_entry("bin/run.sh", "#!/bin/sh\n");
    script.external = 0100755u << 16;
    entry link = stored_entry("run", "bin/run.sh");
    link.external = 0120777u << 16;
    entry hidden_link = encrypted(stored_entry("secret", "bin/run.sh"), "pw");
    hidden_link.external = 0120777u << 16;
    builder.entries = {folder_entry, script, link, hidden_link, stored_entry("plain", "p")};
    const result got = run(builder, false);
    ASSERT_EQ(got.failure, "");
    const std::string when = listed_time();
    EXPECT_EQ(got.text, lines({"size  compressed  method  modified          enc  mode        name",
                               "   0           0  stored  " + when + "       drwxr-x---  bin/",
                               "  10          10  stored  " + when + "       -rwxr-xr-x  bin/run.sh",
                               "  10          10  stored  " + when + "       lrwxrwxrwx  run -> bin/run.sh",
                               "  10          22  stored  " + when + "  yes  lrwxrwxrwx  secret -> ?",
                               "   1           1  stored  " + when + "                   plain",
                               "----  ----------                                             -------",
                               "  31          43                                             5 entries"}));
    EXPECT_EQ(events.asked, 0);
}

TEST_F(catalogue_test, sizes_as_people_read_them_widen_their_columns) {
    archive_builder builder;
    builder.entries = {stored_entry("big", std::string(1500, 'b')), stored_entry("small", "x")};
    human_sizes = true;
    const std::string when = listed_time();
    EXPECT_EQ(run(builder, false).text,
              lines({"  size  compressed  method  modified          name",
                     "1.5 kB      1.5 kB  stored  " + when + "  big", "   1 B         1 B  stored  " + when + "  small",
                     "------  ----------                            -------",
                     "1.5 kB      1.5 kB                            2 entries"}));
}

TEST_F(catalogue_test, one_entry_is_counted_in_the_singular) {
    archive_builder builder;
    builder.entries = {stored_entry("only", "x")};
    const std::string when = listed_time();
    EXPECT_EQ(run(builder, false).text,
              lines({"size  compressed  method  modified          name", "   1           1  stored  " + when + "  only",
                     "----  ----------                            -------",
                     "   1           1                            1 entry"}));
    EXPECT_EQ(run(builder, true).text, "ok: only\nno errors in 1 entry\n");
}

TEST_F(catalogue_test, a_good_archive_tests_ok_and_writes_nothing) {
    archive_builder builder;
    builder.prefix = "program";
    builder.entries = {stored_entry("dir/", ""), stored_entry("dir/a", "alpha"),
                       with_descriptor(deflated_entry("b", std::string(7000, 'b')))};
    const result got = run(builder, true);
    ASSERT_EQ(got.failure, "");
    EXPECT_EQ(got.text, "ok: dir/a\nok: b\nno errors in 3 entries\n");
    EXPECT_EQ(got.bad, 0u);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"program.exe"});
}

TEST_F(catalogue_test, a_crc_mismatch_is_reported_with_the_entry_and_the_error) {
    archive_builder builder;
    builder.entries = {stored_entry("good", "fine"), stored_entry("bad", "damaged data")};
    builder.entries[1].data = "damaged dat!";
    const result got = run(builder, true);
    EXPECT_EQ(got.text,
              "ok: good\n"
              "DAMAGED: bad: format::zip::item_reader exception: CRC mismatch, data is invalid.\n"
              "errors in 1 of 2 entries\n");
    EXPECT_EQ(got.bad, 1u);
}

TEST_F(catalogue_test, what_extraction_would_refuse_is_reported_and_the_rest_tested) {
    archive_builder builder;
    builder.entries = {stored_entry("../up.txt", "x"), stored_entry("../dir/", ""), stored_entry("b.txt", "bz"),
                       stored_entry("fine", "ok")};
    builder.entries[2].method = 12;
    const result got = run(builder, true);
    EXPECT_EQ(got.text,
              "UNSAFE NAME: ../up.txt\n"
              "UNSAFE NAME: ../dir/\n"
              "UNSUPPORTED (method 12): b.txt\n"
              "ok: fine\n"
              "errors in 3 of 4 entries\n");
    EXPECT_EQ(got.bad, 3u);
}

// Hazard: entries that pass one by one in an archive that extraction
// refuses as a whole (two records of one header: a bomb) were reported as
// good.
TEST_F(catalogue_test, an_archive_extraction_refuses_as_a_whole_is_reported) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "x"), stored_entry("a", "x")};
    std::string file = builder.build();
    const std::size_t second = file.rfind("PK\x01\x02");
    for (int i = 0; i < 4; ++i) file[second + 42 + i] = 0;  // the second record names the first header
    const result got = run_bytes(file, 0, true);
    EXPECT_EQ(got.text,
              "ok: a\nok: a\n"
              "REFUSED: format::zip::archive exception: entries overlap each other or the central directory.\n"
              "errors in 1 of 2 entries\n");
    EXPECT_EQ(got.bad, 1u);
}

TEST_F(catalogue_test, a_local_name_that_leaves_the_destination_is_reported) {
    archive_builder builder;
    builder.entries = {stored_entry("inside", "x")};
    builder.entries[0].local_name = "../inside";
    EXPECT_EQ(run(builder, true).text, "UNSAFE NAME: ../inside\nerrors in 1 of 1 entry\n");
}

TEST_F(catalogue_test, a_missing_local_header_is_damage_of_that_entry) {
    archive_builder builder;
    builder.entries = {stored_entry("a", "alpha"), stored_entry("b", "beta")};
    std::string bytes = builder.build();
    bytes[2] = 0;  // the first local header's signature: PK 0 4
    const result got = run_bytes(bytes, 0, true);
    EXPECT_EQ(got.text,
              "DAMAGED: a: format::zip::archive exception: cannot locate a local header.\n"
              "ok: b\n"
              "errors in 1 of 2 entries\n");
}

TEST_F(catalogue_test, the_passphrase_is_asked_once_for_every_encrypted_entry) {
    archive_builder builder;
    builder.entries = {encrypted(stored_entry("one", "first"), "pw"), stored_entry("plain", "p"),
                       encrypted(deflated_entry("two", "second"), "pw")};
    events.answer = "pw";
    const result got = run(builder, true);
    EXPECT_EQ(got.text, "ok: one\nok: plain\nok: two\nno errors in 3 entries\n");
    EXPECT_EQ(events.asked, 1);
}

TEST_F(catalogue_test, a_given_passphrase_is_not_asked_for) {
    archive_builder builder;
    builder.entries = {encrypted(stored_entry("one", "first"), "pw")};
    EXPECT_EQ(run(builder, true, "pw").text, "ok: one\nno errors in 1 entry\n");
    EXPECT_EQ(events.asked, 0);
}

// Hazard: a wrong passphrase was reported as damage of every encrypted
// entry.
TEST_F(catalogue_test, a_wrong_passphrase_is_said_to_be_one) {
    archive_builder builder;
    // The check byte of these entries differs under "wrong".
    builder.entries = {encrypted(stored_entry("one", "first"), "pw"), stored_entry("plain", "p")};
    const result got = run(builder, true, "wrong");
    EXPECT_EQ(got.text,
              "BAD PASSPHRASE: one\n"
              "ok: plain\n"
              "errors in 1 of 2 entries\n");
}

TEST_F(catalogue_test, without_a_passphrase_encrypted_entries_are_skipped_as_errors) {
    archive_builder builder;
    builder.entries = {encrypted(stored_entry("one", "first"), "pw"), encrypted(stored_entry("two", "2"), "pw")};
    const result got = run(builder, true);
    EXPECT_EQ(got.text,
              "skipped (encrypted, no passphrase): one\n"
              "skipped (encrypted, no passphrase): two\n"
              "errors in 2 of 2 entries\n");
    EXPECT_EQ(events.asked, 2);  // asked again while no answer came
}

TEST_F(catalogue_test, a_cancelled_passphrase_question_stops_the_test) {
    archive_builder builder;
    builder.entries = {stored_entry("plain", "p"), encrypted(stored_entry("one", "first"), "pw")};
    events.cancel = true;
    const result got = run(builder, true);
    EXPECT_EQ(got.failure, "evacuation: ");
    EXPECT_EQ(got.text, "ok: plain\n");
}

TEST_F(catalogue_test, names_that_would_act_on_a_terminal_are_shown_escaped) {
    archive_builder builder;
    builder.entries = {stored_entry("evil\x1b[2J\x1b]0;title\x07.txt", "x")};
    const std::string shown = "evil^[[2J^[]0;title^G.txt";
    EXPECT_EQ(run(builder, true).text, "ok: " + shown + "\nno errors in 1 entry\n");
    const std::string listing = run(builder, false).text;
    EXPECT_NE(listing.find("  " + shown + "\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find('\x1b'), std::string::npos);
}

// Hazard: a program with nothing behind it and a download cut short both
// said only "cannot locate the end header".
TEST_F(catalogue_test, an_archive_without_an_end_record_says_what_is_there_instead) {
    archive_builder builder;
    builder.prefix = "just a program";
    builder.entries = {stored_entry("a", "alpha")};
    const std::string whole = builder.build();
    const std::string not_found = "format::zip::archive: cannot locate the end header";
    const std::pair<std::string, std::string> table[] = {
        {builder.prefix, not_found + ": no archive follows the program"},
        {whole.substr(0, whole.size() - 30),
         not_found + ": the file is incomplete (a download cut short?); download it again"},
        {builder.prefix + std::string(100, 'x'), not_found},
    };
    for (const auto& [bytes, failure] : table) {
        EXPECT_EQ(run_bytes(bytes, builder.prefix.size(), true).failure, failure);
        EXPECT_EQ(run_bytes(bytes, builder.prefix.size(), false).failure, failure);
    }
}

// What follows the archive in a signed program (the certificates) may hold
// the bytes of an end record; the archive ends where the caller says.
TEST_F(catalogue_test, an_end_record_after_the_archive_end_is_not_taken) {
    archive_builder builder;
    builder.entries = {stored_entry("real", "the archive's own entry")};
    const std::string archive = builder.build();
    archive_builder decoy;
    decoy.entries = {stored_entry("decoy", "not part of the archive")};
    // The decoy's end record alone, with offsets that point nowhere useful.
    const std::string decoy_bytes = decoy.build();
    const std::string fake_end = decoy_bytes.substr(decoy_bytes.size() - 22);
    const std::string certificates = std::string(8, '\0') + fake_end + std::string(6, 'C');

    const result limited = run(builder, false, "", archive.size(), certificates);
    ASSERT_EQ(limited.failure, "");
    EXPECT_NE(limited.text.find("  real\n"), std::string::npos) << limited.text;
    EXPECT_NE(limited.text.find(" 1 entry\n"), std::string::npos) << limited.text;
    EXPECT_EQ(run(builder, true, "", archive.size(), certificates).text, "ok: real\nno errors in 1 entry\n");

    const result unlimited = run(builder, true, "", format::zip::end_header::not_found, certificates);
    EXPECT_NE(unlimited.text, "ok: real\nno errors in 1 entry\n") << "the decoy went unnoticed; the test is void";
}

}  // namespace
