#include "packer/deflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <string>

#include "packer/output_file.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

// Where a block boundary lies, in bits from the start of the stream, when
// inflate has stopped on it: what it took, less the bits it did not use of
// the last byte (fewer than eight at a boundary).
std::uint64_t boundary_bit(const z_stream& z) {
    return std::uint64_t{z.total_in} * 8 - static_cast<unsigned>(z.data_type & 7);
}

constexpr int at_block_boundary = 128;  // data_type: stopped after an end-of-block code
constexpr int in_last_block = 64;       // data_type: the block just ended was the final one

// The bit where the final block's header begins and the bit where that
// block (the stream) ends.
std::pair<std::uint64_t, std::uint64_t> final_block_bits(std::vector<std::uint8_t>& stream,
                                                         std::vector<std::uint8_t>& discarded) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw failure{"cannot start zlib's inflate"};
    z.next_in = stream.data();
    z.avail_in = static_cast<uInt>(stream.size());
    discarded.resize(1 << 16);
    std::uint64_t header = 0;  // the first block's header starts the stream
    for (;;) {
        z.next_out = discarded.data();
        z.avail_out = static_cast<uInt>(discarded.size());
        const int result = inflate(&z, Z_BLOCK);
        if (result != Z_OK && result != Z_BUF_ERROR) break;
        if (z.data_type & at_block_boundary) {
            if (z.data_type & in_last_block) {
                const std::uint64_t end = boundary_bit(z);
                inflateEnd(&z);
                return {header, end};
            }
            header = boundary_bit(z);
        } else if (result == Z_BUF_ERROR && z.avail_in == 0) {
            break;
        }
    }
    inflateEnd(&z);
    throw failure{"a piece deflated by libdeflate does not inflate"};
}

}  // namespace

void make_joinable(std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& discarded) {
    const auto [header, end] = final_block_bits(stream, discarded);
    stream[header / 8] &= static_cast<std::uint8_t>(~(1u << (header % 8)));
    stream.resize((end + 7) / 8);
    const unsigned used = end % 8;  // bits of the last byte the stream uses; 0: all
    if (used == 0) return;          // already on a byte boundary
    stream.back() &= static_cast<std::uint8_t>((1u << used) - 1);
    // An empty stored block: a 3-bit header of zeros (not final, type 0),
    // padding to the byte, then LEN 0 and NLEN 0xFFFF. The header takes a
    // byte of its own when fewer than three bits are left in the last one.
    if (8 - used < 3) stream.push_back(0);
    for (std::uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) stream.push_back(b);
}

deflater::deflater(int level) : compressor_(libdeflate_alloc_compressor(level)) {
    if (!compressor_) throw failure{"cannot make a compressor for level " + std::to_string(level)};
}

deflater::~deflater() { libdeflate_free_compressor(compressor_); }

std::uint16_t deflater::method() const { return format::zip::records::deflated; }

std::size_t deflater::compress(const std::uint8_t* data, std::size_t size) {
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor_, size);
    if (out_.size() < bound) out_.resize(bound);
    const std::size_t n = libdeflate_deflate_compress(compressor_, data, size, out_.data(), out_.size());
    if (n == 0) throw failure{"libdeflate's output did not fit its own bound"};
    return n;
}

std::vector<std::uint8_t> deflater::whole(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = compress(data, size);
    if (n >= size) return {};
    return std::vector<std::uint8_t>(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<std::uint8_t> deflater::piece(const std::uint8_t* data, std::size_t size, bool last) {
    const std::size_t n = compress(data, size);
    std::vector<std::uint8_t> stream(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n));
    if (!last) make_joinable(stream, inflated_);
    return stream;
}

}  // namespace quillon::pack
