// A scratch folder with an archive file and a destination in it: the
// fixture of the tests that run the whole walk over hand-made archives.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/zip/extraction.h"
#include "tests/zip/hand_made.h"

namespace zip_test {

class walk_fixture : public ::testing::Test {
public:
    using tree_type = std::map<std::string, std::string>;

protected:
    // Writes the archive as `name` and extracts it into "dest".
    outcome run(archive_builder& builder, const std::string& passphrase = "", const std::string& name = "archive.exe") {
        return run_file(builder.build(), builder.prefix.size(), passphrase, name);
    }
    outcome run_file(const std::string& bytes, std::uint64_t base = 0, const std::string& passphrase = "",
                     const std::string& name = "archive.exe") {
        archive_path = folder.native(name);
        write_file(archive_path, bytes);
        return extract(archive_path, destination(), base, passphrase);
    }
    fs::path destination() const { return folder.native("dest"); }
    tree_type extracted() const { return tree(destination()); }
    // Everything in the scratch folder but the archive and the destination.
    std::vector<std::string> strays() const {
        std::vector<std::string> found;
        for (const auto& item : fs::directory_iterator(folder.root()))
            if (item.path() != archive_path && item.path() != destination())
                found.push_back(item.path().filename().u8string());
        return found;
    }

    scratch folder;
    fs::path archive_path;
};

}  // namespace zip_test
