#include "io/folder_chain.h"

#include "io/directory.h"
#include "io/system.h"

namespace io {

const folder_handle& folder_chain::reopened(std::size_t level) {
    std::size_t open = level + 1;  // levels [open, level] are opened again
    while (open > 0 && !handles_[open - 1].is_open()) --open;
    for (std::size_t at = open; at <= level; ++at)
        handles_[at] = (at == 0 ? root_ : handles_[at - 1]).child(names_[at], false);
    return handles_[level];
}

const folder_handle& folder_chain::reach(const io::path& below, bool create) {
    if (!root_.is_open()) {
        // The root is made with its parents when something is first written
        // in it (the user chose it; links on its way are followed).
        if (create && !root_path_.empty() && !io::directory(root_path_).exists())
            io::directory(root_path_).create_with_parents(true);
        root_ = folder_handle::open(root_path_);
    }
    const auto& wanted = below.components();
    std::size_t common = 0;
    while (common < names_.size() && common < wanted.size() && names_[common] == wanted[common]) ++common;
    if (system::folders_pinned_while_open && common < wanted.size()) {
        const auto found = left_.find(key_of(wanted));
        if (found != left_.end()) return found->second;
    }
    if (common < names_.size()) keep_leaf();
    names_.resize(common);
    handles_.resize(common);
    for (std::size_t level = common; level < wanted.size(); ++level) {
        const folder_handle& parent = level == 0 ? root_ : reopened(level - 1);
        folder_handle next = parent.child(wanted[level], create);
        names_.push_back(wanted[level]);
        handles_.push_back(std::move(next));
        if (!system::folders_pinned_while_open && handles_.size() > kept) handles_[handles_.size() - 1 - kept].close();
    }
    return wanted.empty() ? root_ : reopened(wanted.size() - 1);
}

void folder_chain::forget() {
    names_.clear();
    handles_.clear();
    left_.clear();
    root_.close();
}

void folder_chain::keep_leaf() {
    if (!system::folders_pinned_while_open || handles_.empty() || !handles_.back().is_open()) return;
    // Emptied when full: files that come in turns from more folders than
    // this gain nothing from keeping them.
    if (left_.size() >= recent) left_.clear();
    left_[key_of(names_)] = std::move(handles_.back());
}

std::u16string folder_chain::key_of(const std::vector<any::string>& components) {
    std::u16string key;
    for (const any::string& component : components) {
        key += component.wide();
        key += u'/';
    }
    return key;
}

}  // namespace io
