// What Unix users pack: archives written at test time by Info-ZIP zip, 7z,
// bsdtar and Python's zipfile from a tree with permission bits and
// symbolic links, and the Zip64 forms these tools write, extracted through
// the archive reader and compared: kinds, modes, link targets, contents and
// UTC modification times.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/zip/extraction.h"

namespace {

using namespace zip_test;
using listing = std::map<std::string, std::string>;

constexpr std::int64_t source_time = 1623752430;  // 2021-06-15 10:20:30 UTC

// Each item below `root`: "dir 0700", "file 0755 <content>" or
// "link <target>", by relative name.
listing describe(const fs::path& root) {
    listing found;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& path = it->path();
        const std::string name = fs::relative(path, root).generic_string();
        struct stat status;
        lstat(path.c_str(), &status);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        if (S_ISLNK(status.st_mode))
            found[name] = "link " + fs::read_symlink(path).string();
        else if (S_ISDIR(status.st_mode))
            found[name] = std::string("dir ") + mode;
        else
            found[name] = std::string("file ") + mode + " " + read_file(path);
    }
    return found;
}

class unix_tools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A known mask, so that the modes the tools store come back as they
        // are on the source.
        umask(022);
        shared = new scratch;
        const fs::path src = source();
        write_file(src / "run.sh", "#!/bin/sh\necho installed\n");
        write_file(src / "notes.txt", "plain");
        write_file(src / "read-only.txt", "do not change");
        write_file(src / "private" / "key.txt", "secret");
        write_file(src / "lib" / "libx.so.1", std::string(5000, 'x'));
        fs::create_symlink("libx.so.1", src / "lib" / "libx.so");
        fs::create_symlink("lib", src / "lib-link");
        fs::create_symlink("no-such-file", src / "dangling");
        chmod((src / "run.sh").c_str(), 0755);
        chmod((src / "read-only.txt").c_str(), 0444);
        chmod((src / "private" / "key.txt").c_str(), 0600);
        chmod((src / "private").c_str(), 0700);
        for (const auto& item : fs::recursive_directory_iterator(src)) set_time(item.path());
        set_time(src);
    }
    static void TearDownTestSuite() {
        delete shared;
        shared = nullptr;
    }

    static fs::path source() { return shared->native("src"); }

    static void set_time(const fs::path& path) {
        const struct timeval times[2] = {{source_time, 0}, {source_time, 0}};
        lutimes(path.c_str(), times);
    }

    // Runs `command` in the source folder; "$OUT" is the archive's path.
    fs::path make(const std::string& command) {
        const fs::path out = folder.native("out.zip");
        const std::string line =
            "cd '" + source().string() + "' && OUT='" + out.string() + "' && (" + command + ") >/dev/null 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return out;
    }

    // Extracts and compares kinds, modes, links and contents with the
    // source; regular files and folders also by their UTC time.
    void expect_same_tree(const fs::path& archive) {
        const fs::path dest = folder.native("dest");
        const outcome result = extract(archive, dest);
        ASSERT_EQ(result.failure, "");
        EXPECT_EQ(describe(dest), describe(source()));
        for (const auto& item : fs::recursive_directory_iterator(dest)) {
            if (fs::is_symlink(item.symlink_status())) continue;
            EXPECT_EQ(modified_seconds(item.path()), source_time) << item.path();
        }
        chmod((dest / "private").c_str(), 0755);
    }

    static scratch* shared;
    scratch folder;
};

scratch* unix_tools::shared = nullptr;

TEST_F(unix_tools, info_zip_keeps_modes_and_links) { expect_same_tree(make("zip -q -r -y \"$OUT\" .")); }

TEST_F(unix_tools, seven_zip_keeps_modes_and_links) { expect_same_tree(make("7z a -tzip -snl -bd \"$OUT\" .")); }

TEST_F(unix_tools, bsdtar_keeps_modes_and_links) { expect_same_tree(make("bsdtar --format zip -cf \"$OUT\" .")); }

TEST_F(unix_tools, info_zip_forced_zip64) {
    const fs::path archive = make("zip -q -r -y -fz \"$OUT\" .");
    ASSERT_NE(read_file(archive).find("PK\x06\x06"), std::string::npos);
    expect_same_tree(archive);
}

// Hazard: a zone nine hours east packs local DOS times; only the extended
// timestamp field says what time it really was.
TEST_F(unix_tools, a_zip_made_in_another_time_zone_keeps_its_utc_times) {
    const fs::path archive = make("TZ=JST-9 zip -q -r -y \"$OUT\" .");
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    expect_same_tree(archive);
    if (zone)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Python's zipfile with Zip64 extra fields on small entries (version
// needed 45), and with more than 65535 entries, whose true count only the
// Zip64 end record holds.
TEST_F(unix_tools, python_force_zip64_on_small_entries) {
    write_file(folder.native("writer.py"), R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data in [('a.txt', b'first'), ('dir/b.txt', b'second' * 100)]:
        with z.open(name, 'w', force_zip64=True) as f:
            f.write(data)
)");
    const fs::path archive = make("python3 '" + folder.native("writer.py").string() + "' \"$OUT\"");
    ASSERT_NE(read_file(archive).find(std::string("\x01\x00", 2)), std::string::npos);
    const outcome result = extract(archive, folder.native("dest"));
    ASSERT_EQ(result.failure, "");
    std::string second;
    for (int i = 0; i < 100; ++i) second += "second";
    EXPECT_EQ(tree(folder.native("dest")),
              (std::map<std::string, std::string>{{"a.txt", "first"}, {"dir", "<dir>"}, {"dir/b.txt", second}}));
}

// Hazard: an archive of 70,000 entries (the end record says 0xFFFF) was
// cut at 65,535 entries and reported as done.
TEST_F(unix_tools, python_70000_entries_all_come_out) {
    write_file(folder.native("writer.py"), R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:
    for i in range(70000):
        z.writestr('d%d/%d' % (i // 1000, i), str(i))
)");
    const fs::path archive = make("python3 '" + folder.native("writer.py").string() + "' \"$OUT\"");
    ASSERT_NE(read_file(archive).find("PK\x06\x06"), std::string::npos);
    const outcome result = extract(archive, folder.native("dest"));
    ASSERT_EQ(result.failure, "");
    std::size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder.native("dest")))
        if (item.is_regular_file()) ++files;
    EXPECT_EQ(files, 70000u);
    EXPECT_EQ(read_file(folder.native("dest") / "d69" / "69999"), "69999");
}

}  // namespace
