// File times and attributes: MS-DOS times read as local time, and the
// metadata applied after writing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "io/directory.h"
#include "io/file.h"
#include "io/time.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using quillon_test::scratch_folder;

constexpr std::int64_t second = io::time::ticks_per_second;

// The file time of a UTC calendar instant (days from civil, proleptic
// Gregorian).
io::time utc(int year, int month, int day, int hour, int minute, int second_of_minute) {
    int y = year - (month <= 2);
    int era = (y >= 0 ? y : y - 399) / 400;
    int year_of_era = y - era * 400;
    int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    std::int64_t days = std::int64_t(era) * 146097 + day_of_era - 719468;
    std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second_of_minute;
    return io::time(io::time::unix_epoch + seconds * second);
}

// Sets the time zone for the test's lifetime.
class time_zone {
public:
    explicit time_zone(const char* zone) { set(std::string("TZ=") + zone); }
    ~time_zone() { set("TZ=UTC0"); }

private:
    static void set(const std::string& setting) {
#ifdef _WIN32
        _putenv(setting.c_str());
        _tzset();
#else
        setenv("TZ", setting.c_str() + 3, 1);
        tzset();
#endif
    }
};

std::int64_t modified_ticks(const fs::path& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (std::int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return -1;
    return io::time::unix_epoch + std::int64_t(status.st_mtim.tv_sec) * second + status.st_mtim.tv_nsec / 100;
#endif
}

bool writable(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

TEST(time, a_new_time_is_the_start_of_1970) { EXPECT_EQ(io::time().ticks(), 116444736000000000); }

TEST(time, dos_times_are_local_time) {
    time_zone zone("XYZ-2");  // two hours east of UTC, no daylight saving
    // 0x2821: 2000-01-01; 0x6000: 12:00:00.
    EXPECT_EQ(io::time::from_dos(0x2821, 0x6000), utc(2000, 1, 1, 10, 0, 0));
    // Seconds count in twos: 0x001D is 58 seconds; 23:59 is 0xBF60.
    EXPECT_EQ(io::time::from_dos(0x2821, 0xBF7D), utc(2000, 1, 1, 21, 59, 58));
}

TEST(time, out_of_range_dos_fields_are_normalised) {
    time_zone zone("UTC0");
    // Year 2000, month 0, day 0: the day before 1 December 1999.
    EXPECT_EQ(io::time::from_dos(20 << 9, 0), utc(1999, 11, 30, 0, 0, 0));
    // 24:60:62 rolls over into the next day.
    EXPECT_EQ(io::time::from_dos(0x2821, (24 << 11) | (60 << 5) | 31), utc(2000, 1, 2, 1, 1, 2));
}

TEST(apply_info, sets_the_modification_time) {
    scratch_folder scratch;
    scratch.write("f.txt", "x");
    io::file file(scratch.path("f.txt"));
    file.info().has_modified = true;
    file.info().modified = io::time(utc(2011, 6, 15, 8, 30, 12).ticks() + 1234567);  // odd fraction
    file.apply_info();
    // To the 100 ns step, which POSIX sets with its nanosecond call.
    EXPECT_EQ(modified_ticks(scratch.native("f.txt")), file.info().modified.ticks());

    io::directory folder(scratch.path("d"));
    folder.create(true);
    folder.info().has_modified = true;
    folder.info().modified = utc(1999, 12, 31, 23, 59, 58);
    folder.apply_info();
    EXPECT_EQ(modified_ticks(scratch.native("d")), folder.info().modified.ticks());
}

TEST(apply_info, default_metadata_clears_read_only) {
    scratch_folder scratch;
    scratch.write("ro.txt", "x");
    fs::permissions(scratch.native("ro.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ASSERT_FALSE(writable(scratch.native("ro.txt")));
    io::item(scratch.path("ro.txt")).apply_info();
    EXPECT_TRUE(writable(scratch.native("ro.txt")));
#ifdef _WIN32
    EXPECT_EQ(GetFileAttributesW(scratch.native("ro.txt").c_str()), DWORD{0x20});
#endif
}

TEST(apply_info, read_only_is_set_when_asked_and_times_still_apply) {
    scratch_folder scratch;
    scratch.write("f.txt", "x");
    io::item item(scratch.path("f.txt"));
    item.info().has_read_only = item.info().read_only = true;
    item.info().has_modified = true;
    item.info().modified = utc(2005, 5, 5, 5, 5, 4);
    item.apply_info();
    EXPECT_FALSE(writable(scratch.native("f.txt")));
    EXPECT_EQ(modified_ticks(scratch.native("f.txt")), item.info().modified.ticks());
}

TEST(apply_info, a_missing_object_is_ignored) {
    scratch_folder scratch;
    io::item item(scratch.path("missing"));
    item.info().has_modified = true;
    item.apply_info();
    EXPECT_FALSE(scratch.exists("missing"));
}

}  // namespace
