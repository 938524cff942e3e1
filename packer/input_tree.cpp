#include "packer/input_tree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "packer/output_file.h"

namespace quillon::pack {

namespace {

struct stat stat_of(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) throw failure{"cannot find \"" + path + "\": " + std::strerror(errno)};
    return info;
}

input_entry entry_of(const std::string& path, const std::string& name, const struct stat& info) {
    bool directory = S_ISDIR(info.st_mode);
    return {path,         directory ? name + "/" : name,
            directory,    static_cast<std::int64_t>(info.st_mtime),
            info.st_mode, directory ? 0 : static_cast<std::uint64_t>(info.st_size)};
}

std::vector<std::string> folder_names(const std::string& path) {
    DIR* folder = opendir(path.c_str());
    if (!folder) throw failure{"cannot read the folder \"" + path + "\": " + std::strerror(errno)};
    std::vector<std::string> names;
    errno = 0;
    while (dirent* item = readdir(folder)) {
        std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    int error = errno;
    closedir(folder);
    if (error) throw failure{"cannot read the folder \"" + path + "\": " + std::strerror(error)};
    std::sort(names.begin(), names.end());
    return names;
}

void walk(const std::string& path, const std::string& name, std::vector<input_entry>& out) {
    struct stat info = stat_of(path);
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
        throw failure{"cannot pack \"" + path + "\": neither a file nor a folder"};
    out.push_back(entry_of(path, name, info));
    if (!S_ISDIR(info.st_mode)) return;
    for (const std::string& child : folder_names(path)) walk(path + "/" + child, name + "/" + child, out);
}

// The input's own name: its last component, without trailing slashes.
std::string base_name(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<input_entry> walk_inputs(const std::vector<std::string>& inputs) {
    std::vector<input_entry> entries;
    for (const std::string& input : inputs) {
        std::string name = base_name(input);
        if (name == "." || name == "..") {
            // Name the folder itself, as its parent sees it.
            char* real = realpath(input.c_str(), nullptr);
            if (real) name = base_name(real);
            std::free(real);
        }
        if (name.empty() || name == "/" || name == "." || name == "..")
            throw failure{"cannot pack \"" + input + "\": name a file or folder below the current one"};
        walk(input, name, entries);
    }
    return entries;
}

}  // namespace quillon::pack
