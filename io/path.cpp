#include "io/path.h"

#include "io/system.h"

namespace io {

path::path() : separators_(default_separators()) {}

path::path(const any::string& text) : path() { parse(text); }

path::path(const any::string& text, std::u16string separators) : separators_(std::move(separators)) { parse(text); }

const std::u16string& path::default_separators() { return system::separators(); }

void path::parse(const any::string& text) {
    components_.clear();
    const std::u16string& whole = text.wide();
    if (whole.empty()) return;
    for (std::size_t start = 0;;) {
        std::size_t found = whole.find_first_of(separators_, start);
        std::u16string component = whole.substr(start, found == std::u16string::npos ? found : found - start);
        if (component != u".") components_.emplace_back(std::move(component));
        if (found == std::u16string::npos) break;
        start = found + 1;
    }
}

any::string path::join() const {
    std::u16string separator = separators_.substr(0, 1);
    // The root alone: a separator between it and nothing.
    if (components_.size() == 1 && components_.front().empty()) return any::string(separator);
    std::u16string text;
    for (std::size_t i = 0; i < components_.size(); ++i) {
        if (i > 0) text += separator;
        text += components_[i].wide();
    }
    return any::string(std::move(text));
}

namespace {

std::size_t last_dot(const std::u16string& component) { return component.rfind(u'.'); }

}  // namespace

any::string path::stem() const {
    const std::u16string& last = components_.back().wide();
    return any::string(last.substr(0, last_dot(last)));
}

any::string path::extension() const {
    const std::u16string& last = components_.back().wide();
    std::size_t dot = last_dot(last);
    return any::string(dot == std::u16string::npos ? std::u16string() : last.substr(dot));
}

path path::parent() const {
    path result;
    if (!components_.empty()) result.components_.assign(components_.begin(), components_.end() - 1);
    return result;
}

void path::append(const any::string& component) { components_.push_back(component); }

void path::pop_back() {
    if (!components_.empty()) components_.pop_back();
}

void path::place_under(const path& base) {
    auto own = components_.begin();
    // Under nothing, a name that begins at the root must not become one.
    if (base.components_.empty())
        while (own != components_.end() && own->empty()) ++own;
    std::vector<any::string> placed = base.components_;
    placed.insert(placed.end(), own, components_.end());
    components_.swap(placed);
    separators_ = base.separators_;
}

}  // namespace io
