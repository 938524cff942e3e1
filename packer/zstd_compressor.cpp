#include "packer/zstd_compressor.h"

#include <zstd.h>

#include <algorithm>

#include "packer/output_file.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

int zstd_level_of(int level) {
    static const int levels[] = {1, 3, 5, 7, 9, 11, 13, 16, 19, 20, 21, 22};
    return levels[std::clamp(level, 1, 12) - 1];
}

}  // namespace

zstd_compressor::zstd_compressor(int level) : context_(ZSTD_createCCtx()), level_(zstd_level_of(level)) {
    if (!context_) throw failure{"cannot make a Zstandard compressor"};
}

zstd_compressor::~zstd_compressor() { ZSTD_freeCCtx(context_); }

std::uint16_t zstd_compressor::method() const { return format::zip::records::zstandard; }

std::vector<std::uint8_t> zstd_compressor::frame(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out(ZSTD_compressBound(size));
    ZSTD_CCtx_reset(context_, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, level_);
    const std::size_t n = ZSTD_compress2(context_, out.data(), out.size(), data, size);
    if (ZSTD_isError(n)) throw failure{std::string("libzstd failed: ") + ZSTD_getErrorName(n)};
    out.resize(n);
    return out;
}

std::vector<std::uint8_t> zstd_compressor::whole(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out = frame(data, size);
    if (out.size() >= size) return {};
    return out;
}

std::vector<std::uint8_t> zstd_compressor::piece(const std::uint8_t* data, std::size_t size, bool) {
    return frame(data, size);
}

}  // namespace quillon::pack
