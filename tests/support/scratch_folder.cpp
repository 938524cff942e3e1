#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quillon_test {

namespace fs = std::filesystem;

scratch_folder::scratch_folder() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0;; ++attempt) {
        root_ = fs::temp_directory_path() / ("quillon-test-" + std::to_string(stamp) + "-" + std::to_string(counter++) +
                                             "-" + std::to_string(attempt));
        if (fs::create_directory(root_)) break;
    }
}

scratch_folder::~scratch_folder() {
    // Read-only entries (and read-only folders on POSIX) would keep their
    // contents from being removed.
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

fs::path scratch_folder::native(const std::string& name) const {
    return name.empty() ? root_ : root_ / fs::u8path(name);
}

io::path scratch_folder::path() const { return to_io_path(root_); }

io::path scratch_folder::path(const std::string& name) const { return to_io_path(native(name)); }

void scratch_folder::write(const std::string& name, const std::string& bytes) const {
    fs::create_directories(native(name).parent_path());
    std::ofstream out(native(name), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write the test file " + name);
}

std::string scratch_folder::read(const std::string& name) const {
    std::ifstream in(native(name), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the test file " + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool scratch_folder::exists(const std::string& name) const {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(native(name), ignored));
}

void scratch_folder::make_folder(const std::string& name) const { fs::create_directories(native(name)); }

std::vector<std::string> scratch_folder::names(const std::string& folder) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(native(folder))) {
        auto text = entry.path().filename().u8string();
        found.emplace_back(text.begin(), text.end());
    }
    std::sort(found.begin(), found.end());
    return found;
}

io::path to_io_path(const fs::path& path) {
#ifdef _WIN32
    const std::wstring& text = path.native();
    return io::path(any::string(std::u16string(text.begin(), text.end())));
#else
    return io::path(any::string(path.native()));
#endif
}

}  // namespace quillon_test
