// Self-location: where the archive appended to the running program begins.
// That is the end of the executable image as the program's own headers
// describe it; whatever lies beyond belongs to the archive.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/path.h"

namespace quillon::self {

class image {
public:
    // Random access to the bytes of an executable file.
    class source {
    public:
        virtual ~source() = default;
        virtual std::uint64_t size() = 0;
        // Fills `buffer` with `length` bytes from `offset`; false when the
        // range does not lie wholly inside the file or cannot be read.
        virtual bool read_at(std::uint64_t offset, void* buffer, std::size_t length) = 0;
    };

    // `module_path` names the program's own executable file.
    explicit image(io::path module_path) : module_path_(std::move(module_path)) {}

    // The file offset at which the appended archive begins: the end of the
    // image read from the file. 0 when the file cannot be read or its
    // headers are short or damaged (the archive is then looked for from the
    // start of the file).
    std::uint64_t archive_offset() const;

    // The end of the image that `bytes` holds: an ELF image when it starts
    // with the ELF magic, a PE image otherwise. 0 when short or damaged.
    static std::uint64_t end_of(source& bytes);

    // PE: the first section's raw data pointer plus every section's raw
    // size, with the section table found after the optional header whose
    // size the file header gives.
    static std::uint64_t pe_end(source& bytes);

    // ELF: the largest end, in the file, of the header, the section header
    // table, every section that occupies file space and every segment.
    static std::uint64_t elf_end(source& bytes);

private:
    io::path module_path_;
};

}  // namespace quillon::self
