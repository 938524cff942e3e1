// Items, folders and files on real files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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
        return failure.where + "|" + failure.message + "|" + std::to_string(failure.error);
    }
    return "no failure";
}

std::string narrow(const io::path& path) { return path.join().narrow(); }

TEST(item, exists_and_is_directory_see_files_and_folders) {
    scratch_folder scratch;
    scratch.write("f.txt", "x");
    scratch.make_folder("d");
    EXPECT_TRUE(io::item(scratch.path("f.txt")).exists());
    EXPECT_FALSE(io::item(scratch.path("f.txt")).is_directory());
    EXPECT_TRUE(io::item(scratch.path("d")).is_directory());
    EXPECT_FALSE(io::item(scratch.path("missing")).exists());
    EXPECT_FALSE(io::item(io::path()).exists());
}

TEST(item, a_generic_item_cannot_be_created_but_removes_files_and_folders) {
    scratch_folder scratch;
    EXPECT_EQ(failure_of([&] { io::item(scratch.path("x")).create(true); }),
              "io::item|cannot be created generically|0");
    scratch.write("f.txt", "x");
    scratch.make_folder("d");
    io::item(scratch.path("f.txt")).remove(true);
    io::item(scratch.path("d")).remove(true);
    EXPECT_TRUE(scratch.names().empty());
    // A missing file is never reported; a missing folder is not one either.
    io::item(scratch.path("gone")).remove(true);
}

TEST(directory, create_makes_one_folder_and_leaves_anything_existing_alone) {
    scratch_folder scratch;
    io::directory(scratch.path("d")).create(true);
    EXPECT_TRUE(fs::is_directory(scratch.native("d")));
    io::directory(scratch.path("d")).create(true);  // exists already
    scratch.write("f", "x");
    io::directory(scratch.path("f")).create(true);  // a file of that name counts
    EXPECT_TRUE(fs::is_regular_file(scratch.native("f")));
    io::directory().create(true);  // no components: nothing to do
}

// A folder that cannot be made says why, as the system says it (a missing
// parent here; a read-only file system, a folder the user may not write).
TEST(directory, failures_name_the_folder) {
    scratch_folder scratch;
    io::path deep = scratch.path("no/such");
    EXPECT_EQ(failure_of([&] {
                  io::directory(deep).create(true);
              }).rfind("io::directory|cannot create \"" + narrow(deep) + "\"; ", 0),
              0u);
    scratch.write("full/f", "x");
    io::path full = scratch.path("full");
    EXPECT_EQ(failure_of([&] { io::directory(full).remove(true); }),
              "io::directory|cannot delete " + narrow(full) + "|0");
    io::directory(full).remove(false);  // quietly
    io::directory(scratch.path("empty")).create(true);
    io::directory(scratch.path("empty")).remove(true);
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"full"});
}

// An installer's temporary folder removed after its program: everything in
// it, read-only files and folders too, and a link inside never followed.
TEST(directory, remove_tree_removes_everything_below_and_follows_no_link) {
    scratch_folder scratch;
    fs::create_directories(scratch.native("tree/a/b"));
    fs::create_directories(scratch.native("outside"));
    std::ofstream(scratch.native("tree/a/b/file.txt")) << "x";
    std::ofstream(scratch.native("tree/top.txt")) << "y";
    std::ofstream(scratch.native("outside/kept.txt")) << "kept";
    fs::permissions(scratch.native("tree/top.txt"), fs::perms::owner_read);
#ifndef _WIN32
    fs::create_directory_symlink("../outside", scratch.native("tree/link"));
    fs::permissions(scratch.native("tree/a"), fs::perms::owner_read | fs::perms::owner_exec);
    fs::create_directories(scratch.native("tree/closed/inner"));
    fs::permissions(scratch.native("tree/closed"), fs::perms::none);  // cannot even be read
#endif
    io::directory(scratch.path("tree")).remove_tree();
    EXPECT_FALSE(fs::exists(scratch.native("tree")));
    EXPECT_TRUE(fs::exists(scratch.native("outside/kept.txt")));
    EXPECT_THROW(io::directory(scratch.path("tree")).remove_tree(), io::exception);
    io::directory(scratch.path("tree")).remove_tree(false);
}

// A file that cannot be removed while this lives: held open on Windows
// (without sharing its deletion), immutable on Linux (root only); `held`
// is false where neither can be had.
class pinned_file {
public:
    explicit pinned_file(const fs::path& name) : name_(name) {
#ifdef _WIN32
        open_.open(name, std::ios::app);
        held = open_.is_open();
#elif defined(__linux__)
        held = set_immutable(true);
#endif
    }
    ~pinned_file() {
#if defined(__linux__)
        if (held) set_immutable(false);
#endif
    }
    bool held = false;

private:
#if defined(__linux__)
    bool set_immutable(bool on) {
        const int fd = ::open(name_.c_str(), O_RDONLY);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
#endif
    fs::path name_;
    std::ofstream open_;
};

// Hazard: an installer's program left something undeletable in its
// temporary folder; the cleanup stopped at the first failure, left the rest
// behind and named only the folder.
TEST(directory, remove_tree_removes_what_it_can_and_names_what_is_left) {
    scratch_folder scratch;
    fs::create_directories(scratch.native("tree/a"));
    fs::create_directories(scratch.native("tree/b/c"));
    std::ofstream(scratch.native("tree/a/stuck.txt")) << "x";
    std::ofstream(scratch.native("tree/b/c/gone.txt")) << "y";
    std::ofstream(scratch.native("tree/top.txt")) << "z";
    const std::string failure = [&] {
        pinned_file pin(scratch.native("tree/a/stuck.txt"));
        if (!pin.held) return std::string("not pinned");
        return failure_of([&] { io::directory(scratch.path("tree")).remove_tree(); });
    }();
    if (failure == "not pinned") GTEST_SKIP() << "no file can be made undeletable here";
    EXPECT_EQ(failure.substr(0, failure.find(';')),
              "io::directory|cannot delete \"" + narrow(scratch.path("tree/a/stuck.txt")) + "\"");
    EXPECT_TRUE(fs::exists(scratch.native("tree/a/stuck.txt")));
    EXPECT_FALSE(fs::exists(scratch.native("tree/b")));
    EXPECT_FALSE(fs::exists(scratch.native("tree/top.txt")));
    io::directory(scratch.path("tree")).remove_tree();
    EXPECT_FALSE(fs::exists(scratch.native("tree")));
}

TEST(item, create_with_parents_makes_every_missing_folder) {
    scratch_folder scratch;
    scratch.make_folder("d");
    io::file file(scratch.path("d/x/y/f.txt"));
    file.create_with_parents(false);
    file.data_fork().close();
    EXPECT_TRUE(fs::is_regular_file(scratch.native("d/x/y/f.txt")));

    // Folders too, and with nothing below the scratch folder.
    io::directory(scratch.path("p/q/r")).create_with_parents(true);
    EXPECT_TRUE(fs::is_directory(scratch.native("p/q/r")));
}

TEST(item, create_with_parents_reaches_down_from_the_root) {
    // The scratch folder's full path climbs to the root; a folder there is
    // created under the absolute path, not somewhere relative.
    scratch_folder scratch;
    io::path path = scratch.path("new/a");
    EXPECT_TRUE(path.components().size() >= 3);
    io::directory(path).create_with_parents(true);
    EXPECT_TRUE(fs::is_directory(scratch.native("new/a")));
}

TEST(item, create_parent_makes_one_level_only) {
    scratch_folder scratch;
    io::directory(scratch.path("a/b")).create_parent();
    EXPECT_TRUE(fs::is_directory(scratch.native("a")));
    io::path missing = scratch.path("x/y");
    EXPECT_EQ(failure_of([&] {
                  io::directory(scratch.path("x/y/z")).create_parent();
              }).rfind("io::directory|cannot create \"" + narrow(missing) + "\"; ", 0),
              0u);
}

TEST(item, illegal_characters_are_replaced_in_the_last_component_only) {
    io::item item(io::path(u"d?r/a?b*c\"d<e>f|g\x01h.txt", u"/"));
    EXPECT_TRUE(item.replace_illegal_characters());
    EXPECT_EQ(item.path().join().wide(), u"d?r/a_b_c_d_e_f_g_h.txt");
    io::item colon(io::path(u"a:b\\c", u"/"));
    EXPECT_FALSE(colon.replace_illegal_characters());
    EXPECT_EQ(colon.path().join().wide(), u"a:b\\c");
}

TEST(item, name_conflicts_are_resolved_with_numbers) {
    scratch_folder scratch;
    io::item free(scratch.path("f.txt"));
    EXPECT_FALSE(free.resolve_name_conflict(999));
    EXPECT_EQ(free.path(), scratch.path("f.txt"));

    scratch.write("f.txt", "");
    scratch.write("f_1.txt", "");
    io::item taken(scratch.path("f.txt"));
    EXPECT_TRUE(taken.resolve_name_conflict(999));
    EXPECT_EQ(taken.path(), scratch.path("f_2.txt"));

    scratch.write("f_2.txt", "");
    io::item exhausted(scratch.path("f.txt"));
    EXPECT_EQ(failure_of([&] { exhausted.resolve_name_conflict(2); }),
              "io::item|cannot resolve name conflict for " + narrow(scratch.path("f_2.txt")) + "|0");
}

TEST(file, side_files_count_as_present_and_follow_renames) {
    scratch_folder scratch;
    io::file file(scratch.path("a.txt"));
    EXPECT_FALSE(file.any_fork_exists());
    scratch.write("a.txt.rsrc", "");
    EXPECT_TRUE(file.any_fork_exists());
    fs::remove(scratch.native("a.txt.rsrc"));
    scratch.make_folder("a.txt.info");  // anything of that name
    EXPECT_TRUE(file.any_fork_exists());

    file.path().components().back() = any::string(u"a_1.txt");
    EXPECT_EQ(file.info_fork().name(), scratch.path("a_1.txt.info"));
    EXPECT_EQ(file.resource_fork().name(), scratch.path("a_1.txt.rsrc"));
    EXPECT_EQ(file.data_fork().name(), scratch.path("a_1.txt"));
}

TEST(file, create_and_remove_touch_the_data_file_only) {
    scratch_folder scratch;
    scratch.write("n.txt.info", "side");
    io::file file(scratch.path("n.txt"));
    file.create(false);
    file.data_fork().write("abc", 3);
    file.data_fork().close();
    EXPECT_EQ(scratch.read("n.txt"), "abc");
    file.remove(true);
    file.remove(true);  // a missing file is not reported
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"n.txt.info"});
}

TEST(file, names_outside_ascii_are_created_and_found_exactly) {
    scratch_folder scratch;
    // The last one is in no code page at all: only wide calls create it.
    const std::string names[] = {u8"caf\u00e9.txt", u8"\u03b1\u03b2\u03b3.txt", u8"\u6f22\u5b57.txt",
                                 u8"\u00e9t\u00e9/\u4e2d\u6587.txt", u8"\U0001F600 \u0436.txt"};
    for (const auto& name : names) {
        io::file file(scratch.path(name));
        file.create_with_parents(false);
        file.data_fork().write(name.data(), static_cast<std::uint32_t>(name.size()));
        file.data_fork().close();
        EXPECT_EQ(scratch.read(name), name);
        EXPECT_TRUE(io::item(scratch.path(name)).exists()) << name;
    }
    EXPECT_EQ(scratch.names(),
              (std::vector<std::string>{u8"caf\u00e9.txt", u8"\u00e9t\u00e9", u8"\u03b1\u03b2\u03b3.txt",
                                        u8"\u6f22\u5b57.txt", u8"\U0001F600 \u0436.txt"}));
    EXPECT_EQ(scratch.names(u8"\u00e9t\u00e9"), std::vector<std::string>{u8"\u4e2d\u6587.txt"});

    // Built from the archive side: a UTF-8 name placed under the folder.
    io::path entry(any::string::from_utf8(u8"\u0393\u03b5\u03b9\u03ac.txt"), u"/");
    entry.place_under(scratch.path());
    io::file greek(entry);
    greek.create(false);
    greek.data_fork().close();
    EXPECT_TRUE(scratch.exists(u8"\u0393\u03b5\u03b9\u03ac.txt"));
}

}  // namespace
