#include "io/item.h"

#include <string>

#include "errors/exception.h"
#include "io/directory.h"
#include "io/system.h"

namespace io {

void item::create(bool) { throw io::exception("cannot be created generically", "io::item", 0); }

void item::remove(bool report) {
    if (is_directory()) {
        io::directory(path_).remove(report);
        return;
    }
    system::remove_file(path_);
}

bool item::exists() const { return system::exists(path_); }

bool item::is_directory() const { return system::is_directory(path_); }

bool item::is_link() const { return system::is_link(path_); }

void item::create_with_parents(bool flag) {
    // Climb to the deepest folder that exists, then create the missing ones
    // outermost first. A loop, not a recursion: a hostile name may have
    // tens of thousands of components.
    io::path folder = path_.parent();
    std::size_t missing = 0;
    for (io::path probe = folder; !probe.empty() && !system::exists(probe); probe.pop_back()) ++missing;
    std::size_t first = folder.components().size() - missing;
    for (std::size_t length = first + 1; length <= folder.components().size(); ++length) {
        io::path ancestor;
        ancestor.components().assign(folder.components().begin(), folder.components().begin() + length);
        io::directory(ancestor).create(true);
    }
    create(flag);
}

void item::create_parent() {
    if (exists() || path_.components().size() < 2) return;
    io::directory(path_.parent()).create(true);
}

bool item::replace_illegal_characters() {
    if (path_.empty()) return false;
    bool replaced = false;
    for (char16_t& unit : path_.components().back().wide()) {
        bool illegal = unit < 0x20 || std::u16string(u"\"*/<>?|").find(unit) != std::u16string::npos;
        if (illegal) {
            unit = u'_';
            replaced = true;
        }
    }
    return replaced;
}

bool item::resolve_name_conflict(int max_attempts) {
    if (!exists()) return false;
    any::string stem = path_.stem();
    any::string extension = path_.extension();
    for (int n = 1; n <= max_attempts; ++n) {
        std::string number = std::to_string(n);
        any::string candidate = stem;
        candidate += u"_" + std::u16string(number.begin(), number.end());
        candidate += extension;
        path_.components().back() = candidate;
        if (!exists()) return true;
    }
    throw io::exception("cannot resolve name conflict for " + path_.join().narrow(), "io::item", 0);
}

void item::apply_info() { system::apply_info(path_, info_); }

}  // namespace io
