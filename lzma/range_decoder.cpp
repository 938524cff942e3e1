#include "lzma/range_decoder.h"

#include "errors/exception.h"

namespace algorithm::lzma {

template <bool careful>
void range_decoder<careful>::truncated() {
    throw algorithm::exception("unexpected end of compressed data", "algorithm::lzma::decompressor");
}

template void range_decoder<true>::truncated();

}  // namespace algorithm::lzma
