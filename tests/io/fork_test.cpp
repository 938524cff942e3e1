// Forks on real files: the open modes, reading and writing, sizes and
// positions (beyond 4 GiB too), the name repair of `create`, and the
// messages of failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "errors/exception.h"
#include "io/directory.h"
#include "io/file.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using quillon_test::scratch_folder;

template <typename action>
std::string failure_of(action&& act) {
    try {
        act();
    } catch (const io::exception& failure) {
        return failure.where + "|" + failure.message;
    }
    return "no failure";
}

// The message without the system's text, which differs between systems.
std::string head(const std::string& failure) {
    auto code_end = failure.find(' ', failure.find("\"; ") + 3);
    return failure.substr(0, code_end);
}

std::string quoted(const io::path& path) { return "\"" + path.join().narrow() + "\""; }

std::string read_all(io::fork& fork) {
    std::string text;
    char buffer[7];
    while (std::uint32_t got = fork.read(buffer, sizeof buffer)) text.append(buffer, got);
    return text;
}

#ifdef _WIN32
const std::string not_found = "2";       // ERROR_FILE_NOT_FOUND
const std::string file_exists = "80";    // ERROR_FILE_EXISTS
const std::string path_not_found = "3";  // ERROR_PATH_NOT_FOUND
#else
const std::string not_found = "2";       // ENOENT
const std::string file_exists = "17";    // EEXIST
const std::string path_not_found = "2";  // ENOENT
#endif

TEST(fork, open_reads_an_existing_file) {
    scratch_folder scratch;
    scratch.write("in.txt", "hello, forks");
    io::file file(scratch.path("in.txt"));
    io::fork& fork = file.data_fork();
    EXPECT_FALSE(fork.is_open());
    fork.open();
    EXPECT_TRUE(fork.is_open());
    EXPECT_EQ(fork.size(), 12u);
    EXPECT_EQ(read_all(fork), "hello, forks");
    EXPECT_EQ(fork.read(nullptr, 0), 0u);
    EXPECT_EQ(fork.position(), 12u);
    fork.seek(7);
    EXPECT_EQ(read_all(fork), "forks");
    EXPECT_FALSE(fork.is_character_device());
    fork.close();
    EXPECT_FALSE(fork.is_open());
    fork.close();  // a closed fork is left alone
}

TEST(fork, opening_a_missing_file_names_operation_path_and_code) {
    scratch_folder scratch;
    io::file file(scratch.path("missing.txt"));
    std::string expected = "io::fork|cannot open " + quoted(file.path()) + "; " + not_found;
    EXPECT_EQ(head(failure_of([&] { file.data_fork().open(); })), expected);
    EXPECT_EQ(head(failure_of([&] { file.data_fork().open_rw(); })),
              "io::fork|cannot open_rw " + quoted(file.path()) + "; " + not_found);
    EXPECT_FALSE(file.data_fork().is_open());
    try {
        file.data_fork().open();
    } catch (const io::exception& failure) {
        EXPECT_EQ(std::to_string(failure.error), not_found);
    }
}

TEST(fork, open_rw_updates_in_place) {
    scratch_folder scratch;
    scratch.write("f", "abcdef");
    io::file file(scratch.path("f"));
    file.data_fork().open_rw();
    file.data_fork().seek(2);
    file.data_fork().write("XY", 2);
    file.data_fork().close();
    EXPECT_EQ(scratch.read("f"), "abXYef");
}

TEST(fork, create_new_refuses_an_existing_file_and_names_the_asked_path) {
    scratch_folder scratch;
    scratch.write("f.txt", "keep");
    io::file file(scratch.path("f.txt"));
    EXPECT_EQ(head(failure_of([&] { file.create(false); })),
              "io::fork|cannot create " + quoted(scratch.path("f.txt")) + "; " + file_exists);
    EXPECT_EQ(file.path(), scratch.path("f.txt"));
    EXPECT_EQ(scratch.read("f.txt"), "keep");

    file.create(true);  // replace: truncated
    file.data_fork().write("new", 3);
    file.data_fork().close();
    EXPECT_EQ(scratch.read("f.txt"), "new");
}

TEST(fork, create_in_a_missing_folder_fails_and_keeps_the_name) {
    // The repair ('?' to '_') is tried and undone: the message and the item
    // name the path that was asked for.
    scratch_folder scratch;
    io::file file(scratch.path("nowhere/a?b.txt"));
    io::path asked = file.path();
    EXPECT_EQ(head(failure_of([&] { file.create(true); })),
              "io::fork|cannot create " + quoted(asked) + "; " + path_not_found);
    EXPECT_EQ(file.path(), asked);
    EXPECT_FALSE(file.data_fork().is_open());
}

TEST(fork, a_name_the_system_refuses_is_repaired_and_numbered) {
    scratch_folder scratch;
    io::file file(scratch.path("a?b.txt"));
    file.create(false);
    file.data_fork().close();
#ifdef _WIN32
    // '?' is no part of a Windows name: '_' instead, numbered when taken.
    EXPECT_EQ(file.path(), scratch.path("a_b.txt"));
    io::file second(scratch.path("a?b.txt"));
    second.create(false);
    second.data_fork().close();
    EXPECT_EQ(second.path(), scratch.path("a_b_1.txt"));
    io::file third(scratch.path("a|b.txt"));
    third.create(true);
    third.data_fork().close();
    EXPECT_EQ(third.path(), scratch.path("a_b_2.txt"));
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"a_b.txt", "a_b_1.txt", "a_b_2.txt"}));
#else
    // POSIX names take every character but '/' and NUL.
    EXPECT_EQ(file.path(), scratch.path("a?b.txt"));
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"a?b.txt"});
#endif
}

TEST(fork, closed_forks_answer_without_the_system) {
    scratch_folder scratch;
    scratch.write("f", "12345");
    io::file file(scratch.path("f"));
    io::fork& fork = file.data_fork();
    EXPECT_EQ(fork.read(nullptr, 0), 0u);
    EXPECT_EQ(fork.position(), ~std::uint64_t{0});
    fork.seek(3);
    fork.resize(1);
    fork.flush();
    EXPECT_EQ(fork.size(), 5u);  // opened for the question
    EXPECT_FALSE(fork.is_open());
    EXPECT_EQ(scratch.read("f"), "12345");
    EXPECT_EQ(io::file(scratch.path("missing")).data_fork().size(), 0u);
    EXPECT_NE(failure_of([&] {
                  char byte;
                  fork.read(&byte, 1);
              }).find("io::fork|cannot read from " + quoted(file.path())),
              std::string::npos);
}

TEST(fork, resize_truncates_and_extends_and_keeps_the_position) {
    scratch_folder scratch;
    io::file file(scratch.path("r"));
    io::fork& fork = file.data_fork();
    file.create(false);
    fork.write("0123456789", 10);
    fork.resize(4);
    EXPECT_EQ(fork.size(), 4u);
    EXPECT_EQ(fork.position(), 10u);  // beyond the new end
    fork.resize(6);
    EXPECT_EQ(fork.size(), 6u);
    fork.seek(0);
    EXPECT_EQ(read_all(fork), std::string("0123\0\0", 6));
    fork.flush();
    fork.close();
}

TEST(fork, remove_closes_and_deletes) {
    scratch_folder scratch;
    io::file file(scratch.path("gone"));
    file.create(false);
    file.data_fork().remove();
    EXPECT_FALSE(file.data_fork().is_open());
    EXPECT_FALSE(scratch.exists("gone"));
    EXPECT_EQ(head(failure_of([&] { file.data_fork().remove(true); })),
              "io::fork|cannot delete " + quoted(file.path()) + "; " + not_found);
    file.data_fork().remove(false);
}

TEST(fork, side_forks_open_their_own_files) {
    scratch_folder scratch;
    io::file file(scratch.path("doc"));
    file.info_fork().create(false);
    file.info_fork().write("info", 4);
    file.info_fork().close();
    EXPECT_EQ(scratch.read("doc.info"), "info");
    EXPECT_FALSE(file.data_fork().exists());
    EXPECT_TRUE(file.info_fork().exists());
    EXPECT_TRUE(file.any_fork_exists());
    EXPECT_EQ(head(failure_of([&] { file.resource_fork().open(); })),
              "io::fork|cannot open " + quoted(scratch.path("doc.rsrc")) + "; " + not_found);
}

TEST(fork, standard_handles_are_never_closed_in_passing) {
    {
        io::file holder(io::path(any::string(u"stderr")));
        holder.data_fork().open_stderr();
        EXPECT_TRUE(holder.data_fork().is_open());
        holder.data_fork().open_stderr();  // reopened: let go, not closed
    }                                      // destroyed open: the process's handle stays
#ifdef _WIN32
    DWORD flags;
    EXPECT_TRUE(GetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), &flags));
#else
    EXPECT_GE(fcntl(2, F_GETFD), 0);
#endif
    io::file console;
    console.data_fork().open_stderr();
    console.data_fork().flush(false);
}

TEST(fork, a_zero_inside_a_name_never_cuts_it_short) {
    // The system would see only "a"; the name is refused and then
    // repaired like any other illegal character.
    scratch_folder scratch;
    scratch.write("a", "keep");
    io::path name = scratch.path();
    name.append(any::string(std::u16string(u"a\0b.txt", 7)));
    EXPECT_FALSE(io::item(name).exists());
    io::file file(name);
    file.create(true);
    file.data_fork().close();
    EXPECT_EQ(file.path(), scratch.path("a_b.txt"));
    EXPECT_EQ(scratch.read("a"), "keep");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"a", "a_b.txt"}));
}

// Hazard: a mode the program never defines was reported as a failure of
// the system, with whatever error code the last call left (a broken-pipe
// code then hid it entirely); it is the program's own fault.
TEST(fork, an_unknown_open_mode_is_a_logic_error_not_a_system_one) {
    class probing_fork : public io::fork {
    public:
        using io::fork::fork;
        io::path name() const override { return owner().path(); }
        handle_type open_in(int mode) { return open_mode(mode); }
    };
    scratch_folder scratch;
    io::file file(scratch.path("any"));
    probing_fork fork(file);
    EXPECT_THROW(fork.open_in(-1), un::logic_error);
    EXPECT_THROW(fork.open_in(1000), un::logic_error);
    EXPECT_FALSE(scratch.exists("any"));
}

// Hazard: Windows refuses paths of more than 260 characters to every call
// without the long form, so deep trees could not be extracted.
TEST(fork, paths_longer_than_260_characters_are_created_and_read) {
    scratch_folder scratch;
    io::path deep = scratch.path();
    for (int i = 0; i < 6; ++i) deep.append(any::string(std::string(50, static_cast<char>('a' + i))));
    io::file file(deep);
    ASSERT_GT(file.path().join().size(), 300u);
    file.create_with_parents(true);
    file.data_fork().write("deep", 4);
    file.data_fork().close();
    io::item_info info;
    info.has_modified = true;
    info.modified = io::time(io::time::unix_epoch + 1000000000LL * io::time::ticks_per_second);
    file.info() = info;
    file.apply_info();
    EXPECT_TRUE(file.exists());
    file.data_fork().open();
    EXPECT_EQ(read_all(file.data_fork()), "deep");
    file.data_fork().close();
    // Removed through the file layer too: the runtime's own calls may not
    // reach that deep.
    file.remove();
    for (io::path folder = file.path().parent(); folder.components().size() > scratch.path().components().size();
         folder = folder.parent())
        io::directory(folder).remove();
}

TEST(fork, a_destroyed_open_fork_releases_its_file) {
    scratch_folder scratch;
    {
        io::file file(scratch.path("held"));
        file.create(false);
        file.data_fork().write("x", 1);
    }
    // Windows would refuse to delete a file that is still open.
    fs::remove(scratch.native("held"));
    EXPECT_FALSE(scratch.exists("held"));
}

// The fork answers its position from memory: what it answers must be where
// the next read or write lands, after short reads, seeks to where it already
// is, resizes and reopening.
TEST(fork, the_position_it_keeps_is_where_the_system_is) {
    scratch_folder scratch;
    io::file file(scratch.path("p"));
    io::fork& fork = file.data_fork();
    file.create(false);
    fork.write("abcdef", 6);
    fork.seek(6);  // where it already is
    fork.write("gh", 2);
    EXPECT_EQ(fork.position(), 8u);
    fork.seek(2);
    char bytes[16];
    EXPECT_EQ(fork.read(bytes, 3), 3u);
    EXPECT_EQ(fork.position(), 5u);
    fork.write("X", 1);
    EXPECT_EQ(fork.read(bytes, sizeof bytes), 2u);  // short: the end of the file
    EXPECT_EQ(fork.position(), 8u);
    fork.resize(3);
    fork.write("Y", 1);  // at 8, beyond the new end
    fork.close();
    fork.open();
    EXPECT_EQ(fork.position(), 0u);
    EXPECT_EQ(read_all(fork), std::string("abc\0\0\0\0\0Y", 9));
    EXPECT_EQ(fork.position(), 9u);
    fork.close();
    fork.open_rw();
    fork.write("Z", 1);
    fork.close();
    fork.open();
    EXPECT_EQ(read_all(fork).substr(0, 2), "Zb");
}

// Reads at a position neither use nor move the fork's own position (on
// Windows the system's file pointer moves, and the fork puts it back).
TEST(fork, read_at_reads_where_asked_and_leaves_the_position) {
    scratch_folder scratch;
    scratch.write("r", "0123456789");
    io::file file(scratch.path("r"));
    io::fork& fork = file.data_fork();
    fork.open();
    char bytes[16];
    EXPECT_EQ(fork.read(bytes, 3), 3u);
    const struct {
        std::uint64_t position;
        std::uint32_t count;
        std::string expected;
    } cases[] = {{0, 4, "0123"}, {7, 10, "789"}, {10, 1, ""}, {1u << 31, 1, ""}, {5, 0, ""}};
    for (const auto& c : cases) {
        const std::uint32_t got = fork.read_at(c.position, bytes, c.count);
        EXPECT_EQ(std::string(bytes, got), c.expected) << c.position;
    }
    EXPECT_EQ(fork.position(), 3u);
    EXPECT_EQ(fork.read(bytes, 3), 3u);
    EXPECT_EQ(std::string(bytes, 3), "345");
    fork.seek(3);  // where the fork already stands
    EXPECT_EQ(fork.read_at(8, bytes, 2), 2u);
    EXPECT_EQ(fork.read(bytes, 1), 1u);
    EXPECT_EQ(bytes[0], '3');
    fork.close();
    EXPECT_EQ(head(failure_of([&] { fork.read_at(0, bytes, 1); })).rfind("io::fork|cannot read from ", 0), 0u);
}

TEST(fork, read_at_from_several_threads_at_once) {
    scratch_folder scratch;
    std::string content(1 << 16, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    scratch.write("shared", content);
    io::file file(scratch.path("shared"));
    file.data_fork().open();
    std::vector<std::string> seen(4);
    std::vector<std::thread> readers;
    for (std::size_t t = 0; t < seen.size(); ++t)
        readers.emplace_back([&, t] {
            // Each thread reads the whole file in its own order of pieces.
            seen[t].assign(content.size(), '\0');
            for (std::size_t k = 0; k < 64; ++k) {
                const std::size_t piece = (k * (2 * t + 1)) % 64 * 1024;
                file.data_fork().read_at(piece, &seen[t][piece], 1024);
            }
        });
    for (auto& reader : readers) reader.join();
    for (const auto& copy : seen) EXPECT_TRUE(copy == content);
}

TEST(fork, rename_over_replaces_the_target) {
    scratch_folder scratch;
    scratch.write("old", "replaced");
    io::file file(scratch.path("new.partial"));
    file.create(false);
    file.data_fork().write("written", 7);
    file.data_fork().rename_over(scratch.path("old"));
    EXPECT_FALSE(file.data_fork().is_open());
    EXPECT_EQ(scratch.read("old"), "written");
    EXPECT_FALSE(scratch.exists("new.partial"));
    EXPECT_EQ(head(failure_of([&] { file.data_fork().rename_over(scratch.path("old")); })),
              "io::fork|cannot rename " + quoted(file.path()) + "; " + not_found);
}

#ifndef _WIN32
// What a walk finds may have changed into anything: a link is refused unless
// followed, and a FIFO or a folder opens at once, for the caller to see that
// it is no regular file.
TEST(fork, open_as_found_refuses_links_and_never_waits) {
    scratch_folder scratch;
    scratch.write("file", "x");
    ASSERT_EQ(symlink("file", scratch.native("link").c_str()), 0);
    ASSERT_EQ(mkfifo(scratch.native("fifo").c_str(), 0600), 0);
    scratch.make_folder("folder");
    const struct {
        const char* name;
        bool follow_link;
        const char* failure;  // the code of the refusal
        bool regular;
    } cases[] = {
        {"file", false, nullptr, true},  {"link", true, nullptr, true},     {"link", false, "40", false},
        {"fifo", false, nullptr, false}, {"folder", false, nullptr, false},
    };
    for (const auto& c : cases) {
        io::file file(scratch.path(c.name));
        if (c.failure) {
            EXPECT_EQ(head(failure_of([&] { file.data_fork().open_as_found(c.follow_link); })),
                      "io::fork|cannot open " + quoted(file.path()) + "; " + c.failure);
            continue;
        }
        file.data_fork().open_as_found(c.follow_link);
        EXPECT_EQ(file.data_fork().is_regular_file(), c.regular) << c.name;
    }
}
#endif

TEST(fork, sizes_and_positions_beyond_4_gib) {
    scratch_folder scratch;
    io::file file(scratch.path("large.bin"));
    io::fork& fork = file.data_fork();
    file.create(false);
    const std::uint64_t beyond = (std::uint64_t{5} << 30) + 3;  // 5 GiB and 3 bytes
    // Sparse where the file system allows it.
    fork.resize(beyond);
    EXPECT_EQ(fork.size(), beyond);
    fork.seek(beyond - 3);
    EXPECT_EQ(fork.position(), beyond - 3);
    fork.write("end", 3);
    fork.write("!", 1);
    EXPECT_EQ(fork.size(), beyond + 1);
    EXPECT_EQ(fork.position(), beyond + 1);
    fork.seek((std::uint64_t{4} << 30) + 1);
    char bytes[2];
    EXPECT_EQ(fork.read(bytes, 2), 2u);
    EXPECT_EQ(std::string(bytes, 2), std::string(2, '\0'));
    fork.seek(beyond - 3);
    EXPECT_EQ(read_all(fork), "end!");
    fork.resize((std::uint64_t{4} << 30) + 1);
    EXPECT_EQ(fork.size(), (std::uint64_t{4} << 30) + 1);
    fork.close();
    EXPECT_EQ(fork.size(), (std::uint64_t{4} << 30) + 1);
    EXPECT_EQ(fs::file_size(scratch.native("large.bin")), (std::uint64_t{4} << 30) + 1);
}

}  // namespace
