// The packer's output: written to a temporary file beside the target and
// renamed over it only when complete, so a failure leaves no partial output.
// That holds for signals too: while a temporary file exists, SIGINT,
// SIGTERM, SIGHUP and SIGQUIT remove it before the program ends by them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "io/file.h"

namespace quillon::pack {

class output_file {
public:
    explicit output_file(std::string target);
    // Removes the temporary file unless `commit` was called.
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    void write(const void* bytes, std::size_t length);
    void write_u16(std::uint32_t value);
    void write_u32(std::uint32_t value);
    void write_u64(std::uint64_t value);
    std::uint64_t position() const { return position_; }

    // Overwrites `length` bytes already written at `at` (a header whose
    // values are known only after its data).
    void patch(std::uint64_t at, const void* bytes, std::size_t length);
    // Drops everything from `at` on; writing goes on from there.
    void truncate(std::uint64_t at);

    // Flushes, makes the file executable and renames it over the target.
    void commit();

private:
    void drain();

    io::fork& data() { return temporary_file_.data_fork(); }

    std::string target_;
    std::string temporary_;
    io::file temporary_file_;
    std::uint64_t position_ = 0;
    // Bytes already handed to the system; the buffer holds those after.
    std::uint64_t drained_ = 0;
    std::vector<std::uint8_t> buffer_;
    bool committed_ = false;
};

// A failure of the packer, shown as one line on standard error (exit 2).
struct failure {
    std::string message;
};

// The failure "`what` "`path`": reason", the reason being the system's
// text that the file layer's exception `e` carries.
failure system_failure(const std::string& what, const std::string& path, const io::exception& e);

}  // namespace quillon::pack
