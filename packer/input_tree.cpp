#include "packer/input_tree.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "io/path.h"
#include "io/text/string.h"
#include "packer/output_file.h"
#include "zip/name_rules.h"

namespace quillon::pack {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> folder_names(const std::string& path) {
    DIR* folder = opendir(path.c_str());
    if (!folder) throw failure{"cannot read the folder " + quoted(path) + ": " + std::strerror(errno)};
    std::vector<std::string> names;
    errno = 0;
    while (dirent* item = readdir(folder)) {
        std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    int error = errno;
    closedir(folder);
    if (error) throw failure{"cannot read the folder " + quoted(path) + ": " + std::strerror(error)};
    std::sort(names.begin(), names.end());
    return names;
}

std::string link_target(const std::string& path) {
    std::vector<char> target(PATH_MAX);
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) throw failure{"cannot read the link " + quoted(path) + ": " + std::strerror(errno)};
    if (static_cast<std::size_t>(n) >= target.size()) throw failure{"the link " + quoted(path) + " is too long"};
    return std::string(target.data(), static_cast<std::size_t>(n));
}

const char* skipped_kind(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "neither a file, a folder nor a link";
}

std::string last_component(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

class walker {
public:
    walker(const walk_settings& settings, std::ostream& warnings)
        : follow_links_(settings.follow_links), excluded_(settings.excluded), warnings_(warnings) {
        struct stat info;
        if (!settings.output.empty() && stat(settings.output.c_str(), &info) == 0) output_ = {info.st_dev, info.st_ino};
    }

    // `named`: the input itself, as the command line names it.
    void walk(const std::string& path, const std::string& name, bool named) {
        if (!named && never_packed(name)) return;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) throw failure{"cannot find " + quoted(path) + ": " + std::strerror(errno)};
        if (output_ && S_ISREG(info.st_mode) && output_->first == info.st_dev && output_->second == info.st_ino) return;
        if (S_ISLNK(info.st_mode) && (follow_links_ || named)) {
            struct stat pointed;
            if (stat(path.c_str(), &pointed) == 0) info = pointed;  // else it points nowhere: a link
        }
        if (S_ISLNK(info.st_mode)) return add_link(path, name, info);
        if (S_ISREG(info.st_mode))
            return add(path, name, entry_kind::file, info, static_cast<std::uint64_t>(info.st_size));
        if (!S_ISDIR(info.st_mode)) return skip(path, skipped_kind(info.st_mode));
        if (!visited_.insert({info.st_dev, info.st_ino}).second) return skip(path, "a folder packed already");
        add(path, name + "/", entry_kind::folder, info, 0);
        for (const std::string& child : folder_names(path)) walk(path + "/" + child, name + "/" + child, false);
    }

    std::vector<input_entry> entries;

private:
    void add(const std::string& path, const std::string& name, entry_kind kind, const struct stat& info,
             std::uint64_t size, std::string target = {}) {
        entries.push_back({path, name, kind, static_cast<std::int64_t>(info.st_mtime),
                           static_cast<std::uint32_t>(info.st_mode), size, std::move(target)});
    }

    bool never_packed(const std::string& name) const {
        const std::string last = last_component(name);
        if (last == ".git") return true;
        for (const std::string& pattern : excluded_) {
            if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) return true;
            if (pattern.find('/') == std::string::npos && fnmatch(pattern.c_str(), last.c_str(), 0) == 0) return true;
        }
        return false;
    }

    void add_link(const std::string& path, const std::string& name, const struct stat& info) {
        std::string target = link_target(path);
        if (!target.empty() && target[0] == '/') {
            warnings_ << "quillon-pack: skipped " << quoted(path) << ": a symbolic link to the absolute path "
                      << quoted(target) << ", which the stub refuses to make"
                      << (follow_links_ ? " (and nothing is there to pack in its place)\n"
                                        : "; --follow-links packs what it points at\n");
            return;
        }
        const std::uint64_t size = target.size();
        add(path, name, entry_kind::link, info, size, std::move(target));
    }

public:
    // The stub refuses a whole archive with a link that leaves the
    // destination, followed through the other links it makes: such a link
    // is refused here, where it can still be followed instead.
    void refuse_leaving_links() const {
        format::zip::link_map links;
        for (const input_entry& e : entries)
            if (e.kind == entry_kind::link) links.add(archive_name(e.name), e.target);
        for (const input_entry& e : entries)
            if (e.kind == entry_kind::link && links.leaves(archive_name(e.name), e.target))
                throw failure{"the symbolic link " + quoted(e.path) + " points outside what is packed (to " +
                              quoted(e.target) + "), which the stub refuses to make" +
                              (follow_links_ ? " (and nothing is there to pack in its place)"
                                             : "; --follow-links packs what it points at")};
    }

private:
    static io::path archive_name(const std::string& name) {
        bool folder = false;
        return format::zip::normal_name(any::string::from_utf8(name), folder);
    }

    void skip(const std::string& path, const char* why) {
        warnings_ << "quillon-pack: skipped " << quoted(path) << ": " << why << "\n";
    }

    bool follow_links_;
    const std::vector<std::string>& excluded_;
    std::optional<std::pair<dev_t, ino_t>> output_;
    std::ostream& warnings_;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

// The input's own name: its last component, without trailing slashes.
std::string base_name(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<input_entry> walk_inputs(const std::vector<std::string>& inputs, const walk_settings& settings,
                                     std::ostream& warnings) {
    walker walk(settings, warnings);
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
        walk.walk(input, name, true);
    }
    walk.refuse_leaving_links();
    return std::move(walk.entries);
}

}  // namespace quillon::pack
