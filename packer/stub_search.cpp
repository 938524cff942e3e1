#include "packer/stub_search.h"

#include <unistd.h>

#include "packer/output_file.h"

namespace quillon::pack {

namespace {

struct target_info {
    const char* name;
    const char* description;  // for messages
    const char* file;         // the stub's file name
    const char* build;        // the build folder of its preset
};

constexpr target_info known[] = {
    {"linux-x86_64", "POSIX x86-64", "quillon-sfx", nullptr},
    {"linux-aarch64", "POSIX aarch64", "quillon-sfx", "aarch64"},
    {"windows", "Windows", "quillon-sfx.exe", "win32"},
};

const target_info* find_target(const std::string& name) {
    for (const target_info& target : known)
        if (name == target.name) return &target;
    return nullptr;
}

std::string folder_of_program() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string self(path, static_cast<std::size_t>(n));
    return self.substr(0, self.rfind('/'));
}

bool exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace

std::string target_names() {
    std::string names;
    for (const target_info& target : known) names += (names.empty() ? "" : ", ") + std::string(target.name);
    return names;
}

std::string native_target() {
#if defined(__aarch64__)
    return "linux-aarch64";
#else
    return "linux-x86_64";
#endif
}

void check_target(const std::string& target) {
    if (find_target(target) == nullptr)
        throw failure{"unknown target \"" + target + "\" (targets: " + target_names() + ")"};
}

std::vector<std::string> stub_places(const std::string& here, const std::string& target) {
    check_target(target);
    const target_info& info = *find_target(target);
    std::vector<std::string> places;
    // Beside the packer: only a stub whose name says its platform (the
    // POSIX one there is the packer's own platform's).
    if (target == native_target() || target == "windows") places.push_back(here + "/" + info.file);
    places.push_back(here + "/../lib/quillon/" + target + "/" + info.file);
    if (info.build != nullptr) places.push_back(here + "/../../" + info.build + "/bin/" + info.file);
    return places;
}

std::string find_stub(const std::string& chosen, const std::string& target) {
    if (!chosen.empty()) return chosen;
    const std::vector<std::string> places = stub_places(folder_of_program(), target);
    for (const std::string& place : places)
        if (exists(place)) return place;
    std::string looked;
    for (const std::string& place : places) looked += (looked.empty() ? "" : ", ") + place;
    throw failure{std::string("cannot find the ") + find_target(target)->description + " stub (looked for " + looked +
                  "); name one with --stub"};
}

}  // namespace quillon::pack
