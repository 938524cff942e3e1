// Zstandard entries (method 93) with libzstd: standard frames with their
// content size. A file compressed whole is one frame; a large one is one
// frame per piece, which follow one another in the entry's data (a
// Zstandard stream may hold several frames, read as their contents joined).
//
// Levels: -1 to -9 spread over libzstd's 1 to 19 (-1: 1, -3: 5, -6: 11,
// -9: 19), -10 to -12 its levels 20 to 22.
#pragma once

#include "packer/compressor.h"

typedef struct ZSTD_CCtx_s ZSTD_CCtx;

namespace quillon::pack {

class zstd_compressor : public compressor {
public:
    explicit zstd_compressor(int level);
    ~zstd_compressor() override;

    std::uint16_t method() const override;
    std::vector<std::uint8_t> whole(const std::uint8_t* data, std::size_t size) override;
    bool independent_pieces() const override { return true; }
    std::vector<std::uint8_t> piece(const std::uint8_t* data, std::size_t size, bool last) override;

private:
    std::vector<std::uint8_t> frame(const std::uint8_t* data, std::size_t size);

    ZSTD_CCtx* context_;
    int level_;
};

}  // namespace quillon::pack
