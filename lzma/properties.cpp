#include "lzma/properties.h"

#include "errors/exception.h"

namespace algorithm::lzma {

static_assert(properties::max_packed == 224, "225 and above name no lc, lp and pb");

properties properties::parse(const std::uint8_t* bytes) {
    unsigned packed = bytes[0];
    if (packed > max_packed) throw algorithm::exception("invalid properties byte", "algorithm::lzma::properties");
    properties result;
    result.lc = static_cast<int>(packed % 9);
    packed /= 9;
    result.lp = static_cast<int>(packed % 5);
    result.pb = static_cast<int>(packed / 5);
    result.dictionary_size = std::uint32_t{bytes[1]} | std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]} << 16 |
                             std::uint32_t{bytes[4]} << 24;
    return result;
}

}  // namespace algorithm::lzma
