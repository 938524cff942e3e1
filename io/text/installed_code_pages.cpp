#include "io/text/installed_code_pages.h"

#include "io/text/code_pages.h"

namespace any {

const std::vector<std::uint32_t>& installed_code_pages::list() {
    static const std::vector<std::uint32_t>* identifiers =
        new std::vector<std::uint32_t>(code_pages::enumerate_installed());
    return *identifiers;
}

}  // namespace any
