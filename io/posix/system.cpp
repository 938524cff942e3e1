// The POSIX backend: names are the UTF-8 narrow form of the joined path,
// errors are errno with the C library's text (io/posix/error_text.h).
#define _FILE_OFFSET_BITS 64

#include "io/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors/exception.h"
#include "io/posix/error_text.h"
#include "io/system_error.h"

namespace io {
namespace system {
namespace {

// The narrow name, or false when the text has no narrow form (which no
// system call could have handed out) or holds a zero byte, which would cut
// the name short at the system; errno is then EINVAL.
bool narrow_name(const io::path& name, std::string& out) {
    try {
        out = name.join().narrow();
    } catch (const any::exception&) {
        errno = EINVAL;
        return false;
    }
    if (out.find('\0') == std::string::npos) return true;
    errno = EINVAL;
    return false;
}

int descriptor(handle_type handle) { return static_cast<int>(handle); }

int open_name(const std::string& text, int flags) {
    int fd;
    do {
        // 0666 less the umask, as every program creates files.
        fd = ::open(text.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

const std::u16string& separators() {
    static const std::u16string slash = u"/";
    return slash;
}

const bool folders_pinned_while_open = false;

const bool has_symbolic_links = true;

handle_type open(const io::path& name, int mode) {
    // A new file is never made through a symbolic link: O_EXCL does not
    // follow one, and a link found where a file is to be replaced is
    // replaced itself, as its own directory entry.
    static const int flags[] = {O_RDONLY, O_RDWR, O_RDWR | O_CREAT | O_EXCL, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW};
    std::string text;
    if (!narrow_name(name, text)) return io::fork::invalid_handle;
    int fd = open_name(text, flags[mode]);
    if (fd < 0 && mode == create_truncate && errno == ELOOP && is_link(name) && unlink(text.c_str()) == 0)
        fd = open_name(text, flags[create_new]);
    if (fd < 0) return io::fork::invalid_handle;
    // A folder opens for reading here but is no file to read (Windows
    // refuses it at the open). The other modes open it for writing, which
    // the system refuses itself.
    struct stat status;
    if (mode == read_existing && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return io::fork::invalid_handle;
    }
    return fd;
}

handle_type open_as_found(const io::path& name, bool follow_link) {
    std::string text;
    if (!narrow_name(name, text)) return io::fork::invalid_handle;
    // O_NONBLOCK has no effect on a regular file.
    const int fd = open_name(text, O_RDONLY | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW));
    return fd < 0 ? io::fork::invalid_handle : fd;
}

handle_type standard_handle(int which) {
    if (fcntl(which, F_GETFD) < 0) return io::fork::invalid_handle;
    return which;
}

bool close(handle_type handle) { return ::close(descriptor(handle)) == 0; }

bool is_character_device(handle_type handle) {
    struct stat status;
    return fstat(descriptor(handle), &status) == 0 && S_ISCHR(status.st_mode);
}

bool read(handle_type handle, void* buffer, std::uint32_t count, std::uint32_t& done) {
    ssize_t got;
    do got = ::read(descriptor(handle), buffer, count);
    while (got < 0 && errno == EINTR);
    done = got > 0 ? static_cast<std::uint32_t>(got) : 0;
    return got >= 0;
}

bool read_at(handle_type handle, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t& done) {
    done = 0;
    if (position > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    ssize_t got;
    do got = ::pread(descriptor(handle), buffer, count, static_cast<off_t>(position));
    while (got < 0 && errno == EINTR);
    done = got > 0 ? static_cast<std::uint32_t>(got) : 0;
    return got >= 0;
}

bool is_regular_file(handle_type handle) {
    struct stat status;
    return fstat(descriptor(handle), &status) == 0 && S_ISREG(status.st_mode);
}

bool write(handle_type handle, const void* buffer, std::uint32_t count) {
    // A short write is continued; the next call reports why it was short
    // (a full disk, for example).
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t put = ::write(descriptor(handle), bytes, count);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        bytes += put;
        count -= static_cast<std::uint32_t>(put);
    }
    return true;
}

bool size(handle_type handle, std::uint64_t& size) {
    struct stat status;
    if (fstat(descriptor(handle), &status) != 0) return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool position(handle_type handle, std::uint64_t& position) {
    off_t here = lseek(descriptor(handle), 0, SEEK_CUR);
    if (here < 0) return false;
    position = static_cast<std::uint64_t>(here);
    return true;
}

bool seek(handle_type handle, std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    return lseek(descriptor(handle), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool end_file_here(handle_type handle) {
    off_t here = lseek(descriptor(handle), 0, SEEK_CUR);
    return here >= 0 && ftruncate(descriptor(handle), here) == 0;
}

bool flush(handle_type handle) { return fsync(descriptor(handle)) == 0; }

bool free_space(const io::path& name, std::uint64_t& bytes) {
    std::string text;
    struct statvfs status;
    if (!narrow_name(name, text) || statvfs(text.c_str(), &status) != 0) return false;
    // f_bavail counts the blocks an unprivileged user may still take.
    const std::uint64_t block = status.f_frsize != 0 ? status.f_frsize : status.f_bsize;
    const std::uint64_t blocks = status.f_bavail;
    bytes = blocks > UINT64_MAX / block ? UINT64_MAX : blocks * block;
    return true;
}

bool remove_file(const io::path& name) {
    std::string text;
    return narrow_name(name, text) && unlink(text.c_str()) == 0;
}

bool rename_replacing(const io::path& from, const io::path& to) {
    std::string from_text, to_text;
    return narrow_name(from, from_text) && narrow_name(to, to_text) &&
           ::rename(from_text.c_str(), to_text.c_str()) == 0;
}

bool exists(const io::path& name) {
    // Anything that has this name, a dangling symbolic link too.
    std::string text;
    struct stat status;
    return narrow_name(name, text) && lstat(text.c_str(), &status) == 0;
}

bool is_directory(const io::path& name) {
    std::string text;
    struct stat status;
    return narrow_name(name, text) && stat(text.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool is_link(const io::path& name) {
    std::string text;
    struct stat status;
    return narrow_name(name, text) && lstat(text.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool create_directory(const io::path& name) {
    std::string text;
    return narrow_name(name, text) && mkdir(text.c_str(), 0777) == 0;  // less the umask
}

namespace {

// The first thing a removal left, and why: nftw's callbacks take no state
// of their own.
thread_local std::string first_left;
thread_local int first_error = 0;

int remove_one(const char* path, const struct stat*, int kind, struct FTW*) {
    // Read-only folders inside were made writable first: their entries go.
    const bool folder = kind == FTW_DP || kind == FTW_D || kind == FTW_DNR;
    if ((folder ? rmdir(path) : unlink(path)) != 0 && first_left.empty()) {
        first_left = path;
        first_error = errno;
    }
    // Go on: whatever else can go, goes.
    return 0;
}

int open_up(const char* path, const struct stat* status, int kind, struct FTW*) {
    // A folder that cannot be read (mode 000) is opened too, so that the
    // removing walk can go inside.
    if ((kind == FTW_D || kind == FTW_DNR) && (status->st_mode & S_IRWXU) != S_IRWXU)
        chmod(path, status->st_mode | S_IRWXU);
    return 0;
}

}  // namespace

bool remove_tree(const io::path& name, io::path& left) {
    std::string text;
    if (!narrow_name(name, text)) {
        left = name;
        return false;
    }
    first_left.clear();
    first_error = 0;
    // FTW_PHYS: a link is an entry of its own, never the folder it names.
    nftw(text.c_str(), open_up, 32, FTW_PHYS);
    if (nftw(text.c_str(), remove_one, 32, FTW_DEPTH | FTW_PHYS) != 0 && first_left.empty()) {
        first_left = text;  // the top folder itself could not be walked
        first_error = errno;
    }
    if (first_left.empty()) return true;
    left = io::path(any::string(first_left));
    errno = first_error;
    return false;
}

bool remove_directory(const io::path& name) {
    std::string text;
    return narrow_name(name, text) && rmdir(text.c_str()) == 0;
}

namespace {

// The process's umask, read once: asking for it means setting it.
mode_t process_umask() {
    static const mode_t mask = [] {
        const mode_t old = umask(022);
        umask(old);
        return old;
    }();
    return mask;
}

void apply_to(int fd, const io::item_info& info) {
    // The modification time to the nanosecond; the access time stays. There
    // is no creation time to set.
    if (info.has_modified) {
        std::int64_t ticks = info.modified.ticks() - io::time::unix_epoch;
        std::int64_t seconds = ticks / io::time::ticks_per_second;
        std::int64_t rest = ticks % io::time::ticks_per_second;
        if (rest < 0) rest += io::time::ticks_per_second, --seconds;
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(seconds);
        times[1].tv_nsec = static_cast<long>(rest * 100);
        futimens(fd, times);
    }
    if (info.has_mode) {
        fchmod(fd, static_cast<mode_t>(info.mode & io::item_info::permission_bits) & ~process_umask());
        return;
    }
    // Read-only takes every write permission away; otherwise the owner may
    // write. The archive attribute has no counterpart.
    struct stat status;
    if (fstat(fd, &status) != 0) return;
    mode_t mode = status.st_mode & 07777;
    if (info.attribute_word() & io::item_info::read_only_attribute)
        mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode != (status.st_mode & 07777)) fchmod(fd, mode);
}

}  // namespace

void apply_info(handle_type handle, const io::item_info& info) { apply_to(descriptor(handle), info); }

void apply_info(const io::path& name, const io::item_info& info) {
    std::string text;
    if (!narrow_name(name, text)) return;
    // Opened without following a link (which then fails with ELOOP), so the
    // times and modes land on exactly this name. O_PATH would not do:
    // fchmod refuses its descriptors.
    int fd = open_name(text, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return;
    apply_to(fd, info);
    ::close(fd);
}

bool create_link(const io::path& name, const std::string& target) {
    std::string text;
    return narrow_name(name, text) && symlink(target.c_str(), text.c_str()) == 0;
}

namespace {

// One component for the *at calls: its narrow form, never empty, without a
// slash (which would name something further down) or a zero byte.
bool component_name(const any::string& name, std::string& out) {
    try {
        out = name.narrow();
    } catch (const any::exception&) {
        errno = EINVAL;
        return false;
    }
    if (out.empty() || out == "." || out == ".." || out.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    return true;
}

int open_at(int folder, const std::string& name, int flags) {
    int fd;
    do fd = openat(folder, name.c_str(), flags | O_CLOEXEC, 0666);  // less the umask
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

handle_type open_folder(const io::path& name, std::u16string& /*folder_name*/) {
    std::string text;
    if (!narrow_name(name, text)) return io::fork::invalid_handle;
    const int fd = open_name(text.empty() ? std::string(".") : text, O_RDONLY | O_DIRECTORY);
    return fd < 0 ? io::fork::invalid_handle : fd;
}

handle_type open_folder_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name,
                           std::u16string& /*child_name*/) {
    std::string text;
    if (!component_name(name, text)) return io::fork::invalid_handle;
    // O_NOFOLLOW refuses a link as the last (and only) component.
    const int fd = open_at(descriptor(folder), text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    return fd < 0 ? io::fork::invalid_handle : fd;
}

void create_folder_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name) {
    std::string text;
    if (component_name(name, text)) mkdirat(descriptor(folder), text.c_str(), 0777);  // less the umask
}

std::string name_key(const any::string& name) {
    std::string text;
    return component_name(name, text) ? text : std::string();
}

bool list_keys(const io::path& name, const std::function<void(const std::string&)>& found) {
    std::string text;
    if (!narrow_name(name, text)) return false;
    DIR* folder = opendir(text.c_str());
    if (folder == nullptr) return errno == ENOENT;
    // errno tells the end from a failure only when cleared before each
    // read: the callback may leave it set.
    for (;;) {
        errno = 0;
        const dirent* item = readdir(folder);
        if (item == nullptr) break;
        found(item->d_name);
    }
    const bool complete = errno == 0;
    closedir(folder);
    return complete;
}

bool close_folder(handle_type folder) { return ::close(descriptor(folder)) == 0; }

int kind_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name) {
    std::string text;
    struct stat status;
    const int saved = errno;
    if (!component_name(name, text) || fstatat(descriptor(folder), text.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        errno = saved;
        return 0;
    }
    if (S_ISREG(status.st_mode)) return 1;
    if (S_ISDIR(status.st_mode)) return 2;
    if (S_ISLNK(status.st_mode)) return 3;
    return 4;
}

handle_type create_file_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name,
                           bool replace) {
    std::string text;
    if (!component_name(name, text)) return io::fork::invalid_handle;
    const int at = descriptor(folder);
    const int flags = replace ? O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW : O_RDWR | O_CREAT | O_EXCL;
    int fd = open_at(at, text, flags);
    // A link of that name is replaced itself, as its own directory entry.
    if (fd < 0 && replace && errno == ELOOP && unlinkat(at, text.c_str(), 0) == 0)
        fd = open_at(at, text, O_RDWR | O_CREAT | O_EXCL);
    return fd < 0 ? io::fork::invalid_handle : fd;
}

bool create_link_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name,
                    const std::string& target, bool replace) {
    std::string text;
    if (!component_name(name, text)) return false;
    const int at = descriptor(folder);
    if (symlinkat(target.c_str(), at, text.c_str()) == 0) return true;
    if (!replace || errno != EEXIST) return false;
    struct stat status;
    if (fstatat(at, text.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;  // a folder is never replaced
        return false;
    }
    return unlinkat(at, text.c_str(), 0) == 0 && symlinkat(target.c_str(), at, text.c_str()) == 0;
}

bool remove_in(handle_type folder, const std::u16string& /*folder_name*/, const any::string& name) {
    std::string text;
    return component_name(name, text) && unlinkat(descriptor(folder), text.c_str(), 0) == 0;
}

std::int32_t last_error() { return errno; }

void set_last_error(std::int32_t code) { errno = code; }

}  // namespace system

void raise_system_error(const io::path& name, const std::string& operation, const std::string& where) {
    int code = errno;
    // A reader that went away ends the data; it is no failure.
    if (code == EPIPE) return;
    throw io::exception(system_error_message(operation, name, code, std::strerror(code)), where, code);
}

}  // namespace io
