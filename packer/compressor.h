// The compression of one entry's data, one implementation per method the
// packer writes: Deflate (libdeflate, packer/deflater.h), LZMA (liblzma,
// packer/lzma_compressor.h) and Zstandard (libzstd,
// packer/zstd_compressor.h). A file is compressed whole in one call, or,
// when large, in pieces that make one entry's data together.
//
// The levels are the packer's, 1 (fastest) to 12 (smallest); each method
// maps them onto its own scale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::pack {

enum class method_choice { deflate, lzma, zstd };

class compressor {
public:
    compressor() = default;
    compressor(const compressor&) = delete;
    compressor& operator=(const compressor&) = delete;
    virtual ~compressor() = default;

    // The method number the records name.
    virtual std::uint16_t method() const = 0;
    // The whole of `data` as the entry's data; empty when that is not
    // smaller than `size`.
    virtual std::vector<std::uint8_t> whole(const std::uint8_t* data, std::size_t size) = 0;
    // Whether the pieces of one file compress each on its own (any order,
    // any thread: Deflate, Zstandard) or one after another through one
    // compressor (LZMA, whose stream cannot be cut).
    virtual bool independent_pieces() const = 0;
    // `data` as the next piece of a file's data; `last` ends it.
    virtual std::vector<std::uint8_t> piece(const std::uint8_t* data, std::size_t size, bool last) = 0;
};

// A compressor of `method` at the packer's `level` (1 to 12).
std::unique_ptr<compressor> make_compressor(method_choice method, int level);
// The choice of `--method`'s `name`; throws `failure` for an unknown one.
method_choice method_named(const std::string& name);

}  // namespace quillon::pack
