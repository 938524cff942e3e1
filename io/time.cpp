#include "io/time.h"

#include <ctime>

namespace io {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t epoch_difference = time::unix_epoch / time::ticks_per_second;
static_assert(epoch_difference == 11644473600, "the two epochs are 369 years apart");

}  // namespace

time time::from_dos(std::uint16_t date, std::uint16_t time) {
    std::tm local{};
    local.tm_sec = (time & 0x1F) * 2;
    local.tm_min = (time >> 5) & 0x3F;
    local.tm_hour = time >> 11;
    local.tm_mday = date & 0x1F;
    local.tm_mon = ((date >> 5) & 0x0F) - 1;
    local.tm_year = (date >> 9) + 80;
    local.tm_isdst = -1;
    // mktime normalises out-of-range fields (month 0 is December before).
    std::int64_t seconds = static_cast<std::int64_t>(std::mktime(&local));
    return io::time((seconds + epoch_difference) * ticks_per_second);
}

}  // namespace io
