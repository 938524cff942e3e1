#include "io/name_index.h"

#include <algorithm>

#include "io/system.h"

namespace io {

namespace {

// FNV-1a, 64 bits: the names of one folder stay far from colliding, and a
// collision only sends a question to the system.
constexpr std::uint64_t fnv_basis = 14695981039346656037ull;
constexpr std::uint64_t fnv_prime = 1099511628211ull;

std::uint64_t mix(std::uint64_t hash, const std::string& bytes) {
    for (unsigned char byte : bytes) hash = (hash ^ byte) * fnv_prime;
    return (hash ^ 0x2F) * fnv_prime;  // ends the component
}

// The hash of a name in the folder whose hash is `folder`.
std::uint64_t in_folder(std::uint64_t folder, const std::string& key) {
    return mix(folder ^ 0x9E3779B97F4A7C15ull, key);
}

// The hash of the folder of the first `count` components.
std::uint64_t folder_hash(const std::vector<any::string>& components, std::size_t count) {
    std::uint64_t folder = fnv_basis;
    for (std::size_t at = 0; at < count; ++at) folder = mix(folder, system::name_key(components[at]));
    return folder;
}

}  // namespace

std::uint64_t name_index::folder_of(const io::path& name) {
    const auto& components = name.components();
    const std::size_t depth = components.empty() ? 0 : components.size() - 1;
    if (has_last_folder_ && last_folder_.size() == depth &&
        std::equal(last_folder_.begin(), last_folder_.end(), components.begin()))
        return last_folder_hash_;
    const std::uint64_t folder = folder_hash(components, depth);
    last_folder_.assign(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(depth));
    last_folder_hash_ = folder;
    has_last_folder_ = true;
    return folder;
}

bool name_index::listed(const io::path& name, std::uint64_t folder) {
    if (folders_.count(folder) != 0) return true;
    if (unreadable_.count(folder) != 0) return false;
    const bool read = system::list_keys(name.parent(), [&](const std::string& key) {
        if (!key.empty()) names_.insert(in_folder(folder, key));
    });
    (read ? folders_ : unreadable_).insert(folder);
    return read;
}

bool name_index::any_fork_may_exist(const io::path& name) {
    if (name.empty()) return true;
    const std::uint64_t folder = folder_of(name);
    if (!listed(name, folder)) return true;
    // The side files' names, as io::file makes them.
    for (const char16_t* side : {u"", u".info", u".rsrc"}) {
        any::string candidate = name.components().back();
        candidate += side;
        const std::string key = system::name_key(candidate);
        if (key.empty() || names_.count(in_folder(folder, key)) != 0) return true;
    }
    return false;
}

void name_index::made(const io::path& name, std::size_t levels) {
    const auto& components = name.components();
    levels = std::min(levels, components.size());
    if (levels == 0) return;
    // The name's own folder is the one kept; those above it are hashed
    // here, without taking its place.
    std::uint64_t folder = folder_of(name);
    for (std::size_t level = 0; level < levels; ++level) {
        const std::size_t at = components.size() - 1 - level;
        if (level > 0) folder = folder_hash(components, at);
        const std::string key = system::name_key(components[at]);
        if (!key.empty()) names_.insert(in_folder(folder, key));
    }
}

}  // namespace io
