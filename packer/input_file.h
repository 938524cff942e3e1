// A file the packer reads, through the file layer's reads at a position or
// from start to end: never mapped, so a file that shrinks while it is
// packed is found out at the read that comes up short (a mapping would end
// the program with SIGBUS there instead).
#pragma once

#include <cstdint>
#include <string>

#include "io/file.h"

namespace quillon::pack {

class input_file {
public:
    enum class kind {
        packed,               // a regular file the walk found; a link there changed it
        packed_through_link,  // a regular file, perhaps reached through links
        stream,               // anything that reads from start to end, a pipe too
    };
    // Opens `path` for reading. Throws `failure` when it cannot be opened,
    // and "file changed while packing" when a packed file is no longer a
    // regular file (so that a pipe put in its place cannot block the open).
    input_file(const std::string& path, kind what);
    input_file(const input_file&) = delete;
    input_file& operator=(const input_file&) = delete;

    // Fills `bytes` with the `length` bytes at `at`. The walk measured the
    // file, so fewer bytes (or a file that is no longer a regular one) mean
    // it changed: `failure` "file changed while packing".
    void read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length);
    // Throws the same `failure` when anything follows the first `size` bytes.
    void check_ends_at(std::uint64_t size);
    // Up to `length` bytes from the current position, 0 at the end: for
    // inputs read once from start to end, which may be pipes (the stub).
    std::size_t read_some(std::uint8_t* bytes, std::size_t length);

    const std::string& path() const { return path_; }
    [[noreturn]] void changed() const;

private:
    std::string path_;
    io::file file_;
};

}  // namespace quillon::pack
