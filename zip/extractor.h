// The public handle on a Zip archive: the application owns the reader
// through it and hears from it through the archive's events, which the
// archive sends to this handle in the middle of an extraction. The handle's
// own hooks do nothing; an application derives from it and overrides what
// it needs.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/archive_events.h"

namespace io {
class directory;
class file;
class path;
}  // namespace io

namespace format::zip {

class archive;

class extractor : public format::archive_events {
public:
    // Creates the archive reader on `file` (borrowed; it must outlive the
    // handle) and makes this handle the receiver of its events.
    explicit extractor(io::file& file);
    ~extractor() override;

    // Extracts every entry below `destination`. The file's data fork must be
    // open and stand where the archive begins.
    void extract(const io::directory& destination);
    // The archive ends at `end` of the file, not at the file's end.
    void limit_archive(std::uint64_t end);
    // The archive must hold `name` as a file, or it is refused before
    // anything is written.
    void require_file(const io::path& name);

protected:
    format::zip::archive& reader() { return *archive_; }

private:
    std::unique_ptr<format::zip::archive> archive_;
};

}  // namespace format::zip
