#include "io/text/size_text.h"

namespace any {

std::string size_text(std::uint64_t bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1000) return std::to_string(bytes) + " B";
    // Tenths of the unit, in integers: no floating point in the stub.
    std::size_t unit = 0;
    std::uint64_t scale = 1;
    while (unit + 1 < sizeof units / sizeof units[0] && bytes / scale >= 999450) {
        scale *= 1000;
        ++unit;
    }
    // bytes / scale is at least 1000 here, so the unit is one step up.
    const std::uint64_t tenths = (bytes / scale + 50) / 100;
    ++unit;
    if (tenths >= 100) return std::to_string((tenths + 5) / 10) + " " + units[unit];
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + units[unit];
}

}  // namespace any
