// What only POSIX has: names that are not valid UTF-8, the umask, the
// access time, permission bits for read-only, and the backslash as an
// ordinary character.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "errors/exception.h"

#include "io/directory.h"
#include "io/file.h"
#include "tests/support/scratch_folder.h"

namespace {

using quillon_test::scratch_folder;

std::vector<std::string> raw_names(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

mode_t mode_of(const std::string& path) {
    struct stat status;
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Sets the umask for the test's lifetime.
class umask_setting {
public:
    explicit umask_setting(mode_t mask) : saved_(umask(mask)) {}
    ~umask_setting() { umask(saved_); }

private:
    mode_t saved_;
};

TEST(posix_names, invalid_utf8_names_come_back_byte_for_byte) {
    scratch_folder scratch;
    std::string root = scratch.root().native();
    // A name the system hands out: Latin-1 'e acute' and a stray 0xFF.
    std::string found = "caf\xE9-\xFF.txt";
    close(open((root + "/" + found).c_str(), O_CREAT | O_WRONLY, 0644));
    std::string listed = raw_names(root).at(0);
    ASSERT_EQ(listed, found);

    any::string text(listed);
    EXPECT_EQ(text.wide(), (std::u16string{u'c', u'a', u'f', 0xDCE9, u'-', 0xDCFF, u'.', u't', u'x', u't'}));
    EXPECT_EQ(text.narrow(), found);
    io::path path = scratch.path();
    path.append(text);
    EXPECT_TRUE(io::item(path).exists());

    // And a new name made from such bytes is created with exactly them.
    io::path made = scratch.path();
    made.append(any::string(std::string("new-\xC3\x28-\xED\xA0\x80")));
    io::file file(made);
    file.create(false);
    file.data_fork().close();
    EXPECT_EQ(raw_names(root), (std::vector<std::string>{found, "new-\xC3\x28-\xED\xA0\x80"}));
}

TEST(posix_names, a_folder_path_with_invalid_bytes_survives_as_a_whole) {
    scratch_folder scratch;
    std::string folder = scratch.root().native() + "/d\x80\xFE";
    mkdir(folder.c_str(), 0777);
    io::path path{any::string(folder)};
    EXPECT_EQ(path.join().narrow(), folder);
    EXPECT_TRUE(io::item(path).is_directory());
    path.append(any::string(u"inner"));
    io::directory(path).create(true);
    EXPECT_EQ(raw_names(folder), std::vector<std::string>{"inner"});
}

TEST(posix_names, a_backslash_is_part_of_the_name) {
    scratch_folder scratch;
    io::path path = scratch.path();
    path.append(any::string(u"a\\b.txt"));
    io::file file(path);
    file.create(false);
    file.data_fork().close();
    EXPECT_EQ(raw_names(scratch.root().native()), std::vector<std::string>{"a\\b.txt"});
    EXPECT_EQ(io::path(any::string(u"/x\\y/z")).components().size(), 3u);
}

TEST(posix_metadata, files_and_folders_are_created_under_the_umask) {
    scratch_folder scratch;
    {
        umask_setting mask(022);
        io::file(scratch.path("f644")).create(false);
        io::directory(scratch.path("d755")).create(true);
    }
    {
        umask_setting mask(077);
        io::file(scratch.path("f600")).create(false);
        io::directory(scratch.path("d700")).create(true);
    }
    std::string root = scratch.root().native();
    EXPECT_EQ(mode_of(root + "/f644"), 0644u);
    EXPECT_EQ(mode_of(root + "/d755"), 0755u);
    EXPECT_EQ(mode_of(root + "/f600"), 0600u);
    EXPECT_EQ(mode_of(root + "/d700"), 0700u);
}

TEST(posix_metadata, the_modification_time_is_set_to_the_nanosecond_and_access_time_stays) {
    scratch_folder scratch;
    scratch.write("f", "x");
    std::string name = scratch.native("f").native();
    struct timespec times[2] = {{1000000000, 123456789}, {0, UTIME_OMIT}};
    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), times, 0), 0);

    io::item item(scratch.path("f"));
    item.info().has_modified = true;
    // 2001-09-09 01:46:40.7654321 UTC: one second past a billion, in 100 ns.
    item.info().modified = io::time(io::time::unix_epoch + 1000000000LL * io::time::ticks_per_second + 7654321);
    item.apply_info();
    struct stat status;
    stat(name.c_str(), &status);
    EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(status.st_mtim.tv_nsec, 765432100);
    EXPECT_EQ(status.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(status.st_atim.tv_nsec, 123456789);
}

TEST(posix_metadata, read_only_takes_all_write_bits_and_clearing_it_gives_the_owner_one) {
    scratch_folder scratch;
    scratch.write("f", "x");
    std::string name = scratch.native("f").native();
    chmod(name.c_str(), 0666);
    io::item item(scratch.path("f"));
    item.info().has_read_only = item.info().read_only = true;
    item.apply_info();
    EXPECT_EQ(mode_of(name), 0444u);
    item.info().read_only = false;
    item.apply_info();
    EXPECT_EQ(mode_of(name), 0644u);
}

TEST(posix_metadata, a_folder_is_not_opened_as_a_file) {
    scratch_folder scratch;
    scratch.make_folder("d");
    io::file file(scratch.path("d"));
    try {
        file.data_fork().open();
        FAIL() << "a folder opened";
    } catch (const io::exception& failure) {
        EXPECT_EQ(failure.error, EISDIR);
    }
    EXPECT_EQ(file.data_fork().size(), 0u);
}

}  // namespace
