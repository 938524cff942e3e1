// The code pages installed on the system, in the system's own enumeration
// order: the fallbacks of `code_page_converter::from_unicode`. Empty where the
// narrow form is UTF-8, which represents every character.
#pragma once

#include <cstdint>
#include <vector>

namespace any {

class installed_code_pages {
public:
    // Filled once, on first use.
    static const std::vector<std::uint32_t>& list();
};

}  // namespace any
