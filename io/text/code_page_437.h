// The original IBM PC code page, in which Zip archives store names unless
// they say UTF-8. The same table on every system.
#pragma once

#include <string>

namespace any::code_page_437 {

std::u16string decode(const std::string& bytes);

}  // namespace any::code_page_437
