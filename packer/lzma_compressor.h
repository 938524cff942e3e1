// LZMA entries (method 14) with liblzma's raw LZMA1 encoder. The entry's
// data is the Zip LZMA header (the encoder's version in two bytes, the
// size of the properties in two bytes, always 5, and the five property
// bytes: lc, lp and pb in one, then the dictionary size) followed by the
// raw LZMA stream, which always ends with the end-of-stream marker
// (general purpose bit 1, records::lzma_end_marker_flag).
//
// Levels: -1 to -9 are liblzma's presets 1 to 9, -10 and -11 preset 9,
// -12 preset 9 with LZMA_PRESET_EXTREME, where a file compressed whole is
// compressed twice, with the preset's position bits (pb 2, for binaries)
// and with none (pb 0, better for text), and the smaller kept. A file
// compressed whole takes a dictionary no larger than itself (the output is
// the same, the memory much smaller); a file compressed in pieces takes the
// preset's dictionary.
#pragma once

#include <lzma.h>

#include "packer/compressor.h"

namespace quillon::pack {

class lzma_compressor : public compressor {
public:
    // The length of the Zip LZMA header in front of the stream.
    static constexpr std::size_t header_length = 9;

    explicit lzma_compressor(int level);
    ~lzma_compressor() override;

    std::uint16_t method() const override;
    std::vector<std::uint8_t> whole(const std::uint8_t* data, std::size_t size) override;
    bool independent_pieces() const override { return false; }
    std::vector<std::uint8_t> piece(const std::uint8_t* data, std::size_t size, bool last) override;

private:
    // Starts the encoder with `options` and puts the header in `out`.
    void start(const lzma_options_lzma& options, std::vector<std::uint8_t>& out);
    // The whole of `data` with `options`, the header in front.
    std::vector<std::uint8_t> compressed(const lzma_options_lzma& options, const std::uint8_t* data, std::size_t size);
    // Runs the encoder over `data`, appending to `out`.
    void run(const std::uint8_t* data, std::size_t size, lzma_action action, std::vector<std::uint8_t>& out);

    lzma_options_lzma options_{};
    bool both_position_bits_ = false;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool streaming_ = false;
};

}  // namespace quillon::pack
