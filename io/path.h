// A name in the file system: a separator set and a list of components. Names
// are joined into one text only when a system call needs them.
//
// The first separator is the one written by `join`. On Windows the default
// set is "\\/"; on POSIX it is "/" alone (a backslash is an ordinary
// character of a POSIX name). An empty first component is the root: "/a"
// parses to "", "a" and joins back to "/a", so absolute paths stay absolute;
// a path of a single empty component joins as the separator itself.
#pragma once

#include <string>
#include <vector>

#include "io/text/string.h"

namespace io {

class path {
public:
    // No components, the system's default separators.
    path();
    // The system's default separators, then `parse(text)`.
    explicit path(const any::string& text);
    // Given separators, then `parse(text)` (archive names use "/").
    path(const any::string& text, std::u16string separators);

    // The system's default separator set.
    static const std::u16string& default_separators();

    const std::u16string& separators() const { return separators_; }
    void set_separators(std::u16string separators) { separators_ = std::move(separators); }

    // Replaces the components; "." components are dropped, empty and ".."
    // components are kept.
    void parse(const any::string& text);
    any::string join() const;

    // The last component without and with its extension (from its last
    // full stop on); the path must have a component.
    any::string stem() const;
    any::string extension() const;

    // All components but the last, with the default separators.
    path parent() const;
    void append(const any::string& component);
    void pop_back();
    // This path becomes `base`'s separators and components followed by its
    // own. Under a base without components, leading empty components are
    // dropped so that the name stays relative.
    void place_under(const path& base);

    const std::vector<any::string>& components() const { return components_; }
    std::vector<any::string>& components() { return components_; }
    bool empty() const { return components_.empty(); }

    friend bool operator==(const path& a, const path& b) {
        return a.separators_ == b.separators_ && a.components_ == b.components_;
    }
    friend bool operator!=(const path& a, const path& b) { return !(a == b); }

private:
    std::u16string separators_;
    std::vector<any::string> components_;
};

}  // namespace io
