// Running the archive reader on an archive file in a scratch folder, and
// looking at what it wrote. Shared by the hand-made and the real-tool tests.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "extract/extractor.h"
#include "io/directory.h"
#include "io/file.h"
#include "io/path.h"
#include "io/time.h"
#include "tests/support/scratch_folder.h"

namespace zip_test {

namespace fs = std::filesystem;

using scratch = quillon_test::scratch_folder;

inline io::path to_io(const fs::path& path) { return quillon_test::to_io_path(path); }

inline void write_file(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file and folder below `root`: relative UTF-8 name (with "/") to its
// content, or to "<dir>" for a folder.
inline std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> found;
    if (!fs::exists(root)) return found;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).generic_u8string();
        found[name] = item.is_directory() ? "<dir>" : read_file(item.path());
    }
    return found;
}

// Seconds since 1970 of the last modification.
inline std::int64_t modified_seconds(const fs::path& path) {
#ifdef _WIN32
    struct _stat64 info;
    if (_wstat64(path.c_str(), &info) != 0) return -1;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return -1;
#endif
    return static_cast<std::int64_t>(info.st_mtime);
}

inline std::int64_t dos_seconds(std::uint16_t date, std::uint16_t time) {
    return (io::time::from_dos(date, time).ticks() - io::time::unix_epoch) / io::time::ticks_per_second;
}

// The events of one extraction, in order.
class recording_extractor : public format::zip::extractor {
public:
    using format::zip::extractor::extractor;

    bool entering(const io::path& path) override {
        entered.push_back(path.join().to_utf8());
        if (entered.size() == cancel_at) throw quillon::self::evacuation();
        return true;
    }
    void passphrase_needed(std::string& passphrase) override {
        ++asked;
        passphrase = answer;
    }
    void progress(std::uint64_t position) override {
        positions.push_back(position);
        if (cancel_at_position != 0 && position >= cancel_at_position) throw quillon::self::evacuation();
    }

    // The entry (from 1) whose `entering` is the user's cancel; 0: none.
    std::size_t cancel_at = 0;
    // The cancel at the first progress report at or past this position.
    std::uint64_t cancel_at_position = 0;
    std::vector<std::string> entered;
    std::vector<std::uint64_t> positions;
    std::string answer;
    int asked = 0;
};

// What an extraction did: the exception's "where: message" (empty when it
// succeeded) and, for tests that want them, the events.
struct outcome {
    std::string failure;
    std::vector<std::string> entered;
    std::vector<std::uint64_t> positions;
    int asked = 0;
    std::uint64_t position_after = 0;  // of the data fork, when it succeeded
};

// How an extraction is run beyond its archive: its threads, and the entry
// whose question the user cancels.
struct run_settings {
    unsigned threads = 1;
    std::size_t cancel_at = 0;
    std::uint64_t cancel_at_position = 0;
};

// Extracts the archive file `archive` into `destination`, the data fork
// standing at `base` when the reader starts.
inline outcome extract(const fs::path& archive, const fs::path& destination, std::uint64_t base = 0,
                       const std::string& passphrase = "", run_settings settings = {}) {
    io::file file(to_io(archive));
    file.data_fork().open();
    file.data_fork().seek(base);
    recording_extractor extractor(file);
    extractor.answer = passphrase;
    extractor.threads(settings.threads);
    extractor.cancel_at = settings.cancel_at;
    extractor.cancel_at_position = settings.cancel_at_position;
    outcome result;
    try {
        extractor.extract(io::directory(to_io(destination)));
        result.position_after = file.data_fork().position();
    } catch (const un::exception& failure) {
        result.failure = failure.where + ": " + failure.message;
    }
    file.data_fork().close(false);
    result.entered = extractor.entered;
    result.positions = extractor.positions;
    result.asked = extractor.asked;
    return result;
}

}  // namespace zip_test
