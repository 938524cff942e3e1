// What an archive reader tells whoever extracts through it, in the middle of
// an extraction. The hooks here do nothing; the extractor handle (and
// through it the application) overrides what it needs.
#pragma once

#include <cstdint>
#include <string>

namespace io {
class path;
}

namespace format {

class archive_events {
public:
    archive_events() = default;
    archive_events(const archive_events&) = delete;
    archive_events& operator=(const archive_events&) = delete;
    virtual ~archive_events() = default;

    // After the archive was surveyed, before anything is written: how many
    // entries are files or links, each of which is `entering`ed, and the
    // sum of their sizes. Throwing stops the extraction before it writes.
    virtual void starting(std::uint64_t /*files*/, std::uint64_t /*bytes*/) {}
    // Before each file entry is created, with its full destination path:
    // true writes it; false keeps whatever has that name and goes on with
    // the next entry, whose data is not decoded. Throwing stops the
    // extraction (a cancelled overwrite question does).
    virtual bool entering(const io::path& /*path*/) { return true; }
    // Before the first encrypted file entry is read, while no passphrase is
    // known; fill `passphrase` or throw.
    virtual void passphrase_needed(std::string& /*passphrase*/) {}
    // While file data is read (every 32768 bytes at most once per read) and
    // once at the end of each file entry, with the absolute position reached
    // in the archive file.
    virtual void progress(std::uint64_t /*position*/) {}
};

}  // namespace format
