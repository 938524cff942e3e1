// The public handle on a Zip archive: the application owns the reader
// through it and hears from it through the hooks below, which the archive
// calls in the middle of an extraction. The handle's own hooks do nothing;
// an application derives from it and overrides what it needs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace io {
class directory;
class file;
class path;
}  // namespace io

namespace format::zip {

class archive;

class extractor {
public:
    // Creates the archive reader on `file` (borrowed; it must outlive the
    // handle) and makes this handle the receiver of its events.
    explicit extractor(io::file& file);
    // Not virtual: the handle is never deleted through a base pointer.
    ~extractor();
    extractor(const extractor&) = delete;
    extractor& operator=(const extractor&) = delete;

    // Extracts every entry below `destination`. The file's data fork must be
    // open and stand where the archive begins.
    void extract(const io::directory& destination);

    // Before each file entry is created, with its full destination path.
    // Throwing stops the extraction (the overwrite question does).
    virtual void entering(const io::path& /*path*/) {}
    // Before the first encrypted file entry is read, while no passphrase is
    // known; fill `passphrase` or throw.
    virtual void passphrase_needed(std::string& /*passphrase*/) {}
    // While file data is read (every 32768 bytes) and once at the end of each
    // file entry, with the absolute position reached in the archive file.
    virtual void progress(std::uint64_t /*position*/) {}

protected:
    format::zip::archive& reader() { return *archive_; }

private:
    std::unique_ptr<format::zip::archive> archive_;
};

}  // namespace format::zip
