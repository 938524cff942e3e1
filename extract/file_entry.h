// One file entry on its way to disk: what the extraction decided about it
// (its name below the destination, its mode) and where its data is. Writing
// it checks the passphrase, creates the file, decodes into it and closes
// it; a file that does not come out whole (damaged data, a failed
// authentication, a full disk, a cancel) is removed again.
//
// An entry is written on the extraction's own thread or on a worker
// (extract/file_workers.h); it reads the archive through an input of its
// own, so entries on several threads do not share a position.
#pragma once

#include <cstdint>
#include <string>

#include "errors/exception.h"
#include "io/path.h"
#include "stream/progress_input.h"
#include "stream/random/input.h"
#include "zip/local_header.h"
#include "zip/name_rules.h"

namespace format::zip {

class entry_writer;

// Adds the entry's name to an error about its data; the file layer's
// errors name the file they concern already, and a cancel is no error.
template <typename action>
void naming(const any::string& name, action&& act) {
    const auto add = [&](un::exception& failure) { failure.message += ": " + message_text(name); };
    try {
        act();
    } catch (format::exception& failure) {
        add(failure);
        throw;
    } catch (algorithm::exception& failure) {
        add(failure);
        throw;
    } catch (stream::exception& failure) {
        add(failure);
        throw;
    }
}

class file_entry {
public:
    // What an input that reads entries reads ahead (stream::fork_input):
    // the headers and data of many small entries in one system call.
    static constexpr std::uint32_t read_ahead = 64 * 1024;

    // The entry at `index` of the directory, read from `header` (with the
    // directory's values where the header defers them), written as `name`
    // below the destination with `mode` (0: none); its data starts at
    // `data` in the archive file. Without `replace` its file must be new.
    file_entry(std::uint64_t index, const local_header& header, io::path name, std::uint32_t mode,
               stream::size_type data, bool replace)
        : index_(index), header_(header), name_(std::move(name)), mode_(mode), data_(data), replace_(replace) {}

    // Reads the entry from `archive` (positioned here), writes its file
    // with `writer`, and reports the position reached in the archive to
    // `sink` (which may throw to stop: the file is then removed).
    void write(stream::random::input& archive, entry_writer& writer, const std::string& passphrase,
               format::progress_sink* sink) const;

    std::uint64_t index() const { return index_; }
    const io::path& name() const { return name_; }
    // The bytes of stored data, what a worker's share of work is counted in.
    std::uint64_t stored_size() const { return header_.fields.compressed_size; }
    stream::size_type data_position() const { return data_; }

private:
    std::uint64_t index_;
    local_header header_;
    io::path name_;
    std::uint32_t mode_;
    stream::size_type data_;
    bool replace_;
};

}  // namespace format::zip
