// The open folders from a root down to the folder last asked for, each
// opened from its parent by name without following a link
// (io::folder_handle). Entries of an archive come folder by folder, so the
// chain is kept and only its changed end is opened again.
//
// Where the system pins a folder only while it is open (Windows), every
// folder of the chain stays open; elsewhere the deepest `kept` do, so that a
// tree thousands of folders deep needs no more handles than that (a closed
// one is opened again from the nearest open one above it).
//
// Where folders are pinned, the last `recent` folders the chain left stay
// open too, so that files that come in turns from a few folders do not
// open each one again per file (opening a folder is several calls there).
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/folder_handle.h"
#include "io/path.h"

namespace io {

class folder_chain {
public:
    static constexpr std::size_t kept = 64;
    static constexpr std::size_t recent = 256;

    // `root` is opened on first use, links on its way followed (the user
    // chose it), and made with its parents when a `reach` that may create
    // finds it missing.
    explicit folder_chain(const io::path& root) : root_path_(root) {}

    // The folder `below` the root (components; none is the root itself),
    // each missing folder made when `create` says so. Throws what
    // io::folder_handle::child throws.
    const folder_handle& reach(const io::path& below, bool create);

    const io::path& root() const { return root_path_; }
    // Closes every folder: the next `reach` opens them anew.
    void forget();

private:
    const folder_handle& reopened(std::size_t level);
    // Keeps the chain's deepest folder among the recent ones before the
    // chain turns elsewhere.
    void keep_leaf();

    static std::u16string key_of(const std::vector<any::string>& components);

    io::path root_path_;
    folder_handle root_;
    // names_[i] is opened as handles_[i] from handles_[i - 1] (or the root).
    std::vector<any::string> names_;
    std::vector<folder_handle> handles_;
    // Folders the chain left, by their components joined with '/'.
    std::unordered_map<std::u16string, folder_handle> left_;
};

}  // namespace io
