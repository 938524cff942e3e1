// A number of bytes as people read it: "512 B", "4.1 kB", "300 MB",
// "1.2 GB", in powers of 1000 (as disks are sold and df -H shows them).
#pragma once

#include <cstdint>
#include <string>

namespace any {

// One decimal below 10 of the unit ("1.2 GB"), none above ("300 MB");
// rounded to the nearest, so that a size just below a unit reads as the
// next one ("999999 B" is "1.0 MB").
std::string size_text(std::uint64_t bytes);

}  // namespace any
