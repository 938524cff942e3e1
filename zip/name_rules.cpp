#include "zip/name_rules.h"

#include "errors/exception.h"

namespace format::zip {

namespace {

#ifdef _WIN32
bool is_device_name(std::u16string component) {
    // The device is named by what comes before the first dot, blanks at its
    // end ignored ("con .txt" is the console too).
    component = component.substr(0, component.find(u'.'));
    while (!component.empty() && component.back() == u' ') component.pop_back();
    for (auto& c : component)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    static const char16_t* const devices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* device : devices)
        if (component == device) return true;
    return component.size() == 4 && (component.compare(0, 3, u"COM") == 0 || component.compare(0, 3, u"LPT") == 0) &&
           component[3] >= u'1' && component[3] <= u'9';
}
#endif

bool unsafe_component(const std::u16string& component) {
    if (component == u"..") return true;
#ifdef _WIN32
    if (component.find(u':') != std::u16string::npos) return true;
    // Windows drops dots and blanks at the end of a name, so ". ." or "..."
    // could become "..".
    if (!component.empty() && component.find_first_not_of(u". ") == std::u16string::npos) return true;
    if (is_device_name(component)) return true;
#endif
    return false;
}

}  // namespace

const std::u16string& name_separators() {
#ifdef _WIN32
    static const std::u16string separators = u"/\\";
#else
    static const std::u16string separators = u"/";
#endif
    return separators;
}

io::path normal_name(const any::string& stored, bool& directory) {
    const std::u16string& text = stored.wide();
    const std::u16string& separators = name_separators();
    io::path name(any::string(), u"/");
    directory = !text.empty() && separators.find(text.back()) != std::u16string::npos;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::u16string::npos) end = text.size();
        if (end > start && !(end - start == 1 && text[start] == u'.'))
            name.components().emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return name;
}

any::string normal_text(const io::path& name, bool directory) {
    std::u16string text;
    for (const any::string& component : name.components()) {
        if (!text.empty()) text += u'/';
        text += component.wide();
    }
    if (directory && !text.empty()) text += u'/';
    return any::string(text);
}

std::string message_text(const any::string& name) {
    const any::string shown = name.printable();
    try {
        return shown.narrow();
    } catch (const any::exception&) {
        return shown.to_utf8();
    }
}

bool unsafe_name(const io::path& name) {
    for (const any::string& component : name.components()) {
        const std::u16string& text = component.wide();
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find_first_of(u"/\\", start);
            if (unsafe_component(text.substr(start, end - start))) return true;
            if (end == std::u16string::npos) break;
            start = end + 1;
        }
    }
    return false;
}

// The first `count` components in one string, each with its length in
// front, so that no two names share a key.
std::u16string link_map::key(const components& name, std::size_t count) {
    std::u16string packed;
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string& text = name[i].wide();
        packed += static_cast<char16_t>(text.size() >> 16);
        packed += static_cast<char16_t>(text.size() & 0xFFFF);
        packed += text;
    }
    return packed;
}

void link_map::add(const io::path& name, const std::string& target) {
    links_[key(name.components(), name.components().size())] = target;
}

bool link_map::follow(components& at, const std::string& target, int& steps) const {
    if (target.empty() || target[0] == '/') return false;
    for (std::size_t start = 0; start <= target.size();) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos) end = target.size();
        const std::string step = target.substr(start, end - start);
        start = end + 1;
        if (step.empty() || step == ".") continue;
        if (step == "..") {
            if (at.empty()) return false;
            at.pop_back();
            continue;
        }
        at.push_back(any::string::from_utf8(step));
        const auto link = links_.find(key(at, at.size()));
        if (link == links_.end()) continue;
        // A link of the archive on the way: the system goes where it points,
        // from the link's own folder.
        if (++steps > most_steps) return false;
        at.pop_back();
        if (!follow(at, link->second, steps)) return false;
    }
    return true;
}

bool link_map::leaves(const io::path& name, const std::string& target) const {
    components at = name.components();
    if (!at.empty()) at.pop_back();
    int steps = 0;
    return !follow(at, target, steps);
}

bool link_map::below_link(const io::path& name) const {
    const components& parts = name.components();
    for (std::size_t count = 1; count < parts.size(); ++count)
        if (links_.count(key(parts, count)) != 0) return true;
    return false;
}

}  // namespace format::zip
