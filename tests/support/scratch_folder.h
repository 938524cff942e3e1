// A fresh folder below the system's temporary folder for tests that work on
// real files; it is removed with everything in it (read-only entries too)
// when the object goes away. Names are given in UTF-8 relative to the
// folder, with "/" between components.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "io/path.h"

namespace quillon_test {

class scratch_folder {
public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path native(const std::string& name) const;
    // The folder, or a name in it, as the file layer sees it.
    io::path path() const;
    io::path path(const std::string& name) const;

    // Creates the file and any missing folders above it.
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    void make_folder(const std::string& name) const;
    // The names in a folder ("" for the scratch folder itself), in UTF-8,
    // sorted.
    std::vector<std::string> names(const std::string& folder = "") const;

private:
    std::filesystem::path root_;
};

// A system path as an io::path, without losing a byte of it.
io::path to_io_path(const std::filesystem::path& path);

}  // namespace quillon_test
