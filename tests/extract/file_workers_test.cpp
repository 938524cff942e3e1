// Files written on several threads: the same files, the same questions in
// the same order and the same first error as one thread gives, whatever
// the workers finish first; a cancel leaves no file cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/zip/extraction.h"
#include "tests/zip/hand_made.h"

namespace {

using namespace zip_test;

constexpr unsigned several = 4;

std::string content_of(std::size_t index, std::size_t size) {
    std::string text;
    while (text.size() < size) text += "entry " + std::to_string(index) + " of the test archive\n";
    text.resize(size);
    return text;
}

// `count` files spread over a few folders (each folder entry first),
// small ones deflated, every seventh one larger and stored.
std::vector<entry> tree_of(std::size_t count) {
    std::vector<entry> entries;
    for (std::size_t at = 0; at < count; ++at) {
        const std::string folder = "f" + std::to_string(at % 5) + "/";
        if (at < 5) entries.push_back(stored_entry(folder, ""));
        const std::string name = folder + "file" + std::to_string(at) + ".txt";
        entries.push_back(at % 7 == 3 ? stored_entry(name, content_of(at, 300000))
                                      : deflated_entry(name, content_of(at, 100 + at)));
    }
    return entries;
}

entry with_bad_crc(entry e) {
    e.crc = crc_of(e.content) ^ 1;
    return e;
}

struct threads_case {
    const char* hazard;
    std::vector<entry> entries;
    std::string passphrase;    // the answer when asked
    const char* failure = "";  // the expected first error's "where: message" start
};

std::vector<entry> with(std::vector<entry> entries, std::size_t at, entry changed) {
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(changed));
    return entries;
}

std::vector<entry> encrypted_tree(std::size_t count, const std::string& passphrase) {
    std::vector<entry> entries;
    for (std::size_t at = 0; at < count; ++at)
        entries.push_back(encrypted(deflated_entry("secret" + std::to_string(at), content_of(at, 500)), passphrase));
    return entries;
}

std::vector<threads_case> cases() {
    std::vector<threads_case> all;
    all.push_back({"many files in folders", tree_of(200), ""});
    {
        std::vector<entry> twice = tree_of(20);
        twice.push_back(deflated_entry("f1/file1.txt", "the later copy wins"));
        twice.push_back(deflated_entry("F1/FILE1.TXT", "and so does this one where case does not count"));
        all.push_back({"a name written twice", twice, ""});
    }
    all.push_back({"a file then a folder of its name", with(tree_of(20), 10, stored_entry("f2/file2.txt/", "")), "",
                   "format::zip::archive: cannot create the folder"});
    all.push_back({"a file then a file below its name",
                   with(tree_of(20), 12, deflated_entry("f3/file3.txt/inside", "x")), "",
                   "io::folder_handle: cannot create the folder"});
    {
        std::vector<entry> damaged = tree_of(60);
        damaged[20] = with_bad_crc(damaged[20]);
        damaged[45] = with_bad_crc(damaged[45]);
        all.push_back({"the first damaged entry in archive order", damaged, "",
                       "format::zip::item_reader: CRC mismatch, data is invalid"});
    }
    {
        std::vector<entry> bomb = tree_of(30);
        entry big = deflated_entry("bomb.bin", std::string(60000, 'b'));
        big.uncompressed_size = 1000;
        bomb.insert(bomb.begin() + 15, big);
        all.push_back({"a bomb stops at its declared size", bomb, "",
                       "format::zip::item_reader: data longer than its declared size"});
    }
    all.push_back({"encrypted entries, one question", encrypted_tree(40, "right"), "right"});
    all.push_back({"a wrong passphrase", encrypted_tree(40, "right"), "wrong",
                   "format::zip::encryption_header: bad passphrase: secret0"});
    return all;
}

void PrintTo(const threads_case& given, std::ostream* out) { *out << given.hazard; }

class threads : public ::testing::TestWithParam<threads_case> {};

TEST_P(threads, give_what_one_thread_gives) {
    const threads_case& given = GetParam();
    scratch folder;
    archive_builder archive;
    archive.entries = given.entries;
    write_file(folder.root() / "a.zip", archive.build());

    const outcome one = extract(folder.root() / "a.zip", folder.root() / "one", 0, given.passphrase, {1, 0});
    const outcome many = extract(folder.root() / "a.zip", folder.root() / "many", 0, given.passphrase, {several, 0});
    // Names below the destination, the same for both.
    const std::string one_root = to_io(folder.root() / "one").join().to_utf8();
    const std::string many_root = to_io(folder.root() / "many").join().to_utf8();
    const auto below = [](std::string text, const std::string& root) {
        const std::size_t at = text.find(root);
        return at == std::string::npos ? text : text.replace(at, root.size(), "DESTINATION");
    };
    EXPECT_EQ(one.failure.rfind(given.failure, 0), 0u) << one.failure;
    EXPECT_EQ(below(many.failure, many_root), below(one.failure, one_root));
    EXPECT_EQ(many.asked, one.asked);
    // The questions come in archive order; after a failure one thread asks
    // no more, several may have asked about entries already handed over.
    ASSERT_GE(many.entered.size(), one.entered.size());
    for (std::size_t at = 0; at < one.entered.size(); ++at)
        EXPECT_EQ(below(many.entered[at], many_root), below(one.entered[at], one_root));
    const auto written_by_one = tree(folder.root() / "one");
    const auto written_by_many = tree(folder.root() / "many");
    if (one.failure.empty()) {
        EXPECT_EQ(written_by_many, written_by_one);
        return;
    }
    // Everything one thread wrote, several wrote too; whatever else they
    // wrote is whole: an entry after the failure, finished before it was
    // known.
    for (const auto& [name, content] : written_by_one) {
        const auto found = written_by_many.find(name);
        ASSERT_NE(found, written_by_many.end()) << name;
        EXPECT_EQ(found->second, content) << name;
    }
    for (const auto& [name, content] : written_by_many) {
        bool whole = content == "<dir>";
        for (const entry& e : given.entries)
            if (e.name == name && e.content == content) whole = true;
        EXPECT_TRUE(whole) << name << " is not an entry's whole content";
    }
}

INSTANTIATE_TEST_SUITE_P(extraction, threads, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<threads_case>& info) {
                             std::string name = info.param.hazard;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// A cancel at a question: every entry before it is written, as one thread
// writes them before it asks, and nothing after it. A cancel while the
// files are written (the progress display's Cancel): no file is left cut
// short.
TEST(threads, a_cancel_leaves_no_partial_file) {
    constexpr std::size_t count = 24, size = 2000000;
    scratch folder;
    archive_builder archive;
    for (std::size_t at = 0; at < count; ++at)
        archive.entries.push_back(stored_entry("big" + std::to_string(at), content_of(at, size)));
    write_file(folder.root() / "a.zip", archive.build());
    const struct {
        std::size_t question;
        std::uint64_t position;
    } cancels[] = {{2, 0}, {9, 0}, {24, 0}, {0, 1}, {0, 5 * size}, {0, 17 * size}};
    for (const auto& cancel : cancels) {
        const fs::path destination =
            folder.root() / ("cancel" + std::to_string(cancel.question) + "_" + std::to_string(cancel.position));
        const outcome result =
            extract(folder.root() / "a.zip", destination, 0, "", {several, cancel.question, cancel.position});
        EXPECT_EQ(result.failure, "evacuation: ");
        const auto written = tree(destination);
        for (const auto& [name, content] : written) {
            const std::size_t index = std::stoul(name.substr(3));
            if (cancel.question != 0) {
                EXPECT_LT(index + 1, cancel.question) << name;
            }
            EXPECT_EQ(content, content_of(index, size)) << name << " is cut short";
        }
        if (cancel.question != 0) {
            EXPECT_EQ(written.size(), cancel.question - 1) << destination;
        }
    }
}

}  // namespace
