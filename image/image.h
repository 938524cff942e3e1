// Self-location: where the archive appended to the running program begins
// and ends. It begins at the end of the executable image as the program's
// own headers describe it; whatever lies beyond belongs to the archive,
// except the certificate table of a signed Windows program, which signing
// puts after everything else and which the archive then ends before.
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

    // The file offset at which the archive ends: where the certificate
    // table begins when the program is a signed PE image whose table ends
    // at the end of the file; `no_end` (the archive reaches the end of the
    // file) otherwise, also when the file cannot be read.
    std::uint64_t archive_end() const;
    static constexpr std::uint64_t no_end = ~std::uint64_t{0};

    // The end of the image that `bytes` holds: an ELF image when it starts
    // with the ELF magic, a PE image otherwise. 0 when short or damaged.
    static std::uint64_t end_of(source& bytes);

    // PE: the first section's raw data pointer plus every section's raw
    // size, with the section table found after the optional header whose
    // size the file header gives.
    static std::uint64_t pe_end(source& bytes);

    // PE: the file offset of the certificate table (the attribute
    // certificates of data directory entry 4, whose address is a file
    // offset) when the table is not empty, begins at or after the image's
    // end, ends exactly at the end of the file and holds well-formed
    // WIN_CERTIFICATE records and nothing else (each at least its 8-byte
    // header long, revision 1.0 or 2.0, type 1 to 4, the next one at the
    // length rounded up to 8 bytes with zeros between; the last one may
    // end without that padding); `no_end` otherwise, and for short or
    // damaged headers and images that are not PE.
    static std::uint64_t pe_certificate_start(source& bytes);

    // ELF: the largest end, in the file, of the header, the section header
    // table, every section that occupies file space and every segment.
    static std::uint64_t elf_end(source& bytes);

private:
    io::path module_path_;
};

}  // namespace quillon::self
