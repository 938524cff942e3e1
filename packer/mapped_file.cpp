#include "packer/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "packer/output_file.h"

namespace quillon::pack {

mapped_file::mapped_file(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw failure{"cannot open \"" + path + "\": " + std::strerror(errno)};
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw failure{"cannot read \"" + path + "\": not a regular file"};
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    if (size_ > 0) {
        void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            int error = errno;
            close(fd);
            throw failure{"cannot read \"" + path + "\": " + std::strerror(error)};
        }
        madvise(p, size_, MADV_SEQUENTIAL);
        data_ = static_cast<const std::uint8_t*>(p);
    }
    close(fd);
}

mapped_file::~mapped_file() {
    if (data_) munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace quillon::pack
