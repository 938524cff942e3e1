#include "packer/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillon::pack {

namespace {

constexpr std::size_t buffer_size = 1 << 20;

std::string system_text(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

output_file::output_file(std::string target) : target_(std::move(target)) {
    temporary_ = target_ + ".partial-XXXXXX";
    fd_ = mkstemp(temporary_.data());
    if (fd_ < 0) throw failure{system_text("cannot create", temporary_)};
    buffer_.reserve(buffer_size);
}

output_file::~output_file() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temporary_.c_str());
}

void output_file::drain() {
    const std::uint8_t* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw failure{system_text("cannot write", temporary_)};
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void output_file::write(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    position_ += length;
    while (length > 0) {
        std::size_t n = std::min(length, buffer_size - buffer_.size());
        buffer_.insert(buffer_.end(), p, p + n);
        p += n;
        length -= n;
        if (buffer_.size() == buffer_size) drain();
    }
}

void output_file::write_u16(std::uint32_t value) {
    const std::uint8_t bytes[2] = {std::uint8_t(value), std::uint8_t(value >> 8)};
    write(bytes, 2);
}

void output_file::write_u32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                                   std::uint8_t(value >> 24)};
    write(bytes, 4);
}

void output_file::commit() {
    drain();
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd_, 0777 & ~mask) != 0) throw failure{system_text("cannot make executable", temporary_)};
    if (fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        throw failure{system_text("cannot write", temporary_)};
    }
    fd_ = -1;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw failure{system_text("cannot rename the output to", target_)};
    committed_ = true;
}

}  // namespace quillon::pack
