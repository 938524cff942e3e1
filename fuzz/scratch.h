// A folder of its own below /tmp for one fuzzer's runs, removed when the
// fuzzer ends, with the two things every fuzzer here does in it: write the
// input as a file, and check afterwards that nothing else was left.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace fuzz {

namespace fs = std::filesystem;

class scratch {
public:
    // Made as /tmp/quillon-fuzz-NAME-XXXXXX.
    explicit scratch(const std::string& name) {
        std::string pattern = "/tmp/quillon-fuzz-" + name + "-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        folder_ = pattern;
    }
    ~scratch() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;

    const fs::path& folder() const { return folder_; }

    // `file` holds exactly the input's bytes.
    static void write(const fs::path& file, const std::uint8_t* data, std::size_t size) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // Aborts, naming the stray, when `folder` holds anything but `allowed`.
    static void expect_only(const fs::path& folder, std::initializer_list<fs::path> allowed) {
        for (const auto& item : fs::directory_iterator(folder)) {
            bool known = false;
            for (const fs::path& name : allowed) known = known || item.path() == folder / name;
            if (!known) {
                std::fprintf(stderr, "left behind: %s\n", item.path().c_str());
                std::abort();
            }
        }
    }

private:
    fs::path folder_;
};

}  // namespace fuzz
