// The rules every entry name passes before anything is written: one normal
// form of the name, which the check pass, the writing and the listing all
// see; names that would leave the destination or name a device; and links
// whose targets, followed through the links the archive itself makes, lead
// out of the destination.
#pragma once

#include <map>
#include <string>

#include "io/path.h"
#include "io/text/string.h"

namespace format::zip {

// The separators of entry names: "/", and on Windows also "\", which the
// system takes for one.
const std::u16string& name_separators();

// The components of a stored name: split at the separators, empty and "."
// components dropped (so "/a", "a//b" and "./a" are all below the
// destination), ".." kept for `unsafe_name` to refuse. `directory` tells
// whether the name ended with a separator.
io::path normal_name(const any::string& stored, bool& directory);
// The normal form as one text, "/" between components and after a
// directory's name: what messages and listings show.
any::string normal_text(const io::path& name, bool directory);

// A name as a message shows it: control characters made visible and a long
// one cut, in the system's narrow form where it has one, UTF-8 otherwise.
std::string message_text(const any::string& name);

// Whether a name in its normal form would leave the destination or name a
// device: a ".." component (also between backslashes, which Windows splits
// at); on Windows also a component with ":" (a drive or a stream), one made
// of dots and blanks only, or a reserved device name such as CON or com1.txt.
bool unsafe_name(const io::path& name);

// The symbolic links an archive makes, by their normal names, and where
// they lead once made.
class link_map {
public:
    // Links beyond this many steps through others (a loop) lead nowhere.
    static constexpr int most_steps = 40;

    void add(const io::path& name, const std::string& target);
    bool empty() const { return links_.empty(); }

    // Whether a link `name` holding `target` would point outside the
    // destination: an absolute target, or one whose ".." climb above it,
    // followed as the system follows it, through every link of this map
    // it passes (whichever entry makes them, in any order).
    bool leaves(const io::path& name, const std::string& target) const;
    // Whether a folder on the way to `name` is one of the links.
    bool below_link(const io::path& name) const;

private:
    using components = std::vector<any::string>;
    // Follows `target` from the folder `at`; false when it leaves.
    bool follow(components& at, const std::string& target, int& steps) const;
    static std::u16string key(const components& name, std::size_t count);

    std::map<std::u16string, std::string> links_;
};

}  // namespace format::zip
