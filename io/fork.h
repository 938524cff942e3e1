// One open file of an item: its data, or one of its side files. The only
// place where the system's file handles are used.
//
// Every failure throws io::exception with where "io::fork", the system's
// error code, and a message naming the operation and the file, for example
//   cannot open "/home/u/a.txt"; 2 No such file or directory
// A broken pipe is never raised: a read then returns 0 (the end of the
// data), a write returns as if it had written, an open leaves the fork
// closed.
//
// A fork starts closed; its owner opens and closes it explicitly. A fork
// that is destroyed while open closes its file quietly (but never the
// process's standard handles).
#pragma once

#include <atomic>
#include <cstdint>

#include "io/item_info.h"
#include "io/path.h"

namespace io {

class folder_handle;
class item;

class fork {
public:
    // The system handle; `invalid_handle` while closed.
    using handle_type = std::intptr_t;
    static constexpr handle_type invalid_handle = -1;

    explicit fork(io::item& owner) : owner_(&owner) {}
    fork(const fork&) = delete;
    fork& operator=(const fork&) = delete;
    virtual ~fork();

    // Reading an existing file; others may read and write it. Opening an
    // open fork closes its previous file first (a standard handle is only
    // let go).
    virtual void open();
    // Reading an existing item as it is found now: a FIFO opens at once
    // instead of waiting for a writer, a folder may open too (ask
    // `is_regular_file`), and with `follow_link` false a symbolic link as
    // the last component is refused ("cannot open").
    virtual void open_as_found(bool follow_link);
    // Reading and writing an existing file.
    virtual void open_rw();
    // A new file (`replace` false: an existing one is an error; true: an
    // existing one is truncated). When the system refuses the name, the
    // owner's last component is repaired (illegal characters to '_', then
    // numbered when taken) and the creation tried once more; the owner
    // keeps the name that was used. A second failure puts the owner's path
    // back and throws "cannot create" with the path that was asked for.
    virtual void create(bool replace);
    // The same in the open `folder`: the file is its name there (the
    // owner's last component), never reached through a link, and the
    // owner's path must be the folder's with that component.
    virtual void create_in(const io::folder_handle& folder, bool replace);
    // The process's standard handles, read and written unchanged.
    virtual void open_stdin();
    virtual void open_stdout();
    virtual void open_stderr();
    // Closes an open fork (it is closed afterwards even when closing
    // failed); a failure throws only with `report`.
    virtual void close(bool report = true);
    virtual bool is_character_device();
    // A regular file: no folder, FIFO or device.
    virtual bool is_regular_file();

    // At most `count` bytes; 0 at the end of the file. A count of 0 reads
    // nothing, even from a closed fork.
    virtual std::uint32_t read(void* buffer, std::uint32_t count);
    // At most `count` bytes from `position`, 0 at the end of the file; fails
    // as `read` does. The fork's own position is neither used nor moved, so
    // several threads may read an open fork this way at once.
    std::uint32_t read_at(std::uint64_t position, void* buffer, std::uint32_t count);
    // All `count` bytes (short system writes are continued).
    virtual void write(const void* buffer, std::uint32_t count);
    // The size of the file; a closed fork opens the file for the question
    // and answers 0 when it cannot (never raises then).
    virtual std::uint64_t size();
    // All ones for a closed fork.
    virtual std::uint64_t position();
    // Absolute position; a closed fork ignores it.
    virtual void seek(std::uint64_t position);
    // Truncates or extends the file; the position stays where it was (also
    // beyond the new end). A closed fork ignores it.
    virtual void resize(std::uint64_t size);
    virtual void flush(bool report = true);
    // Applies times and attributes (or permission bits) to the open file,
    // by its handle; best effort, never raises. A closed fork ignores it.
    void apply_info(const io::item_info& info);
    // Closes the fork quietly, then deletes its file; a failure throws only
    // with `report`.
    virtual void remove(bool report = true);
    // Closes the fork, then renames its file to `target`, replacing a file
    // of that name in one step; throws "cannot rename". The owner keeps
    // its path.
    virtual void rename_over(const io::path& target);
    // The file this fork opens.
    virtual io::path name() const = 0;

    // Whether anything exists under `name()`.
    bool exists() const;
    bool is_open() const { return handle_ != invalid_handle; }

protected:
    io::item& owner() const { return *owner_; }
    // Opens the owner's file in one of the system layer's modes; another
    // value is a fault of the program (un::logic_error).
    handle_type open_mode(int mode);

private:
    // Closes quietly before a reopening or on destruction; a standard
    // handle is only forgotten.
    void release();
    // The fork holds no file afterwards.
    void forget_handle();
    // Holds `handle`, just opened (or invalid when opening failed).
    void take(handle_type handle);
    void open_standard(int which, const char* operation);

    // The position is kept here while it is known, so that asking for it or
    // seeking to where the file already is costs no system call (a reader
    // asks for every record). A standard handle may be shared with other
    // processes: its position is always asked of the system.
    void forget_position() { position_known_ = false; }
    // A positional read leaves the system's file pointer where it ended on
    // Windows: the fork's own position is put back before it is used.
    void restore_position();
    void know_position(std::uint64_t position) {
        position_ = position;
        position_known_ = !standard_;
    }

    io::item* owner_;
    handle_type handle_ = invalid_handle;
    bool standard_ = false;  // a standard handle, not ours to close on destruction
    bool position_known_ = false;
    std::uint64_t position_ = 0;
    std::atomic<bool> read_elsewhere_{false};
};

}  // namespace io
