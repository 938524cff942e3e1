// Deflate for the packer, with libdeflate: a whole file in one call, or a
// large file in pieces that join into one stream.
//
// libdeflate compresses whole buffers only, and each of its streams ends
// with a final block padded to a byte. A piece that is not the last is made
// joinable the way zlib's gzappend joins streams: zlib's own inflate, asked
// to stop at every block boundary (Z_BLOCK), tells the bit where the last
// block's header begins and the bit where its data ends; the final-block
// bit is cleared there, and an empty stored block brings the end to a byte
// boundary, where the next piece's first block begins. Each piece starts
// with no history (its matches stay inside it), so every piece is
// compressed on its own, in any order, by any thread, and the joined stream
// depends only on the data and the piece size: the same bytes whatever the
// number of threads. The inflate pass costs a small part of what deflating
// the piece costs; zlib's streaming deflate, the other way to stream, is
// two to three times slower than libdeflate at the same level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packer/compressor.h"

struct libdeflate_compressor;

namespace quillon::pack {

class deflater : public compressor {
public:
    // `level` 1 to 12, libdeflate's.
    explicit deflater(int level);
    ~deflater() override;

    std::uint16_t method() const override;
    // The whole of `data` as one stream; empty when that is not smaller.
    std::vector<std::uint8_t> whole(const std::uint8_t* data, std::size_t size) override;
    bool independent_pieces() const override { return true; }
    // `data` as one piece of a longer stream: unless `last`, its blocks are
    // not final and it ends on a byte boundary, so that the next piece can
    // follow it directly.
    std::vector<std::uint8_t> piece(const std::uint8_t* data, std::size_t size, bool last) override;

private:
    // Deflates into `out_`, kept from call to call (fresh memory for every
    // piece would cost a page fault per page); returns the length.
    std::size_t compress(const std::uint8_t* data, std::size_t size);

    libdeflate_compressor* compressor_;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint8_t> inflated_;  // what the joining inflate pass throws away
};

// Turns one complete deflate stream into a piece that another may follow:
// clears the final-block bit of its last block and ends it on a byte
// boundary with an empty stored block.
// `discarded` is room for the inflated bytes, which are not kept.
void make_joinable(std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& discarded);

}  // namespace quillon::pack
