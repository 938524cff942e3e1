#include "packer/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "packer/output_file.h"

namespace quillon::pack {

namespace {

std::string system_text(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

input_file::input_file(const std::string& path, kind what) : path_(path) {
    int flags = O_RDONLY | O_CLOEXEC;
    if (what != kind::stream) flags |= O_NONBLOCK;  // no effect on a regular file
    if (what == kind::packed) flags |= O_NOFOLLOW;
    fd_ = open(path.c_str(), flags);
    if (fd_ < 0 && errno == ELOOP && what == kind::packed) changed();  // a link now stands where the file stood
    if (fd_ < 0) throw failure{system_text("cannot open", path)};
    struct stat info;
    if (what != kind::stream && (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd_);
        changed();
    }
}

input_file::~input_file() { close(fd_); }

void input_file::changed() const { throw failure{"file changed while packing: \"" + path_ + "\""}; }

void input_file::read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd_, bytes + done, length - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EISDIR) changed();
        if (n < 0) throw failure{system_text("cannot read", path_)};
        if (n == 0) changed();
        done += static_cast<std::size_t>(n);
    }
}

void input_file::check_ends_at(std::uint64_t size) {
    struct stat info;
    if (fstat(fd_, &info) != 0) throw failure{system_text("cannot read", path_)};
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) != size) changed();
    std::uint8_t more;
    for (;;) {
        const ssize_t n = pread(fd_, &more, 1, static_cast<off_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw failure{system_text("cannot read", path_)};
        if (n > 0) changed();
        return;
    }
}

std::size_t input_file::read_some(std::uint8_t* bytes, std::size_t length) {
    for (;;) {
        const ssize_t n = ::read(fd_, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw failure{system_text("cannot read", path_)};
        return static_cast<std::size_t>(n);
    }
}

}  // namespace quillon::pack
