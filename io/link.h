// A symbolic link: a name whose content is the path of another.
#pragma once

#include <string>

#include "io/item.h"

namespace io {

class link : public item {
public:
    link() = default;
    // `target` is taken as it is: the link's own folder resolves a relative
    // one, as the system always does.
    link(const io::path& path, std::string target) : item(path), target_(std::move(target)) {}

    // Makes the link. `replace` removes a file or link of that name first
    // (never a folder); without it an existing name is an error. Throws
    // io::exception "cannot create link" with the path.
    void create(bool replace) override;

    const std::string& target() const { return target_; }

private:
    std::string target_;
};

}  // namespace io
