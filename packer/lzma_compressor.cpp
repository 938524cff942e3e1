#include "packer/lzma_compressor.h"

#include <algorithm>

#include "packer/output_file.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

constexpr std::uint32_t smallest_dictionary = 4096;

std::uint32_t preset_of(int level) {
    if (level >= 12) return 9 | LZMA_PRESET_EXTREME;
    return static_cast<std::uint32_t>(std::clamp(level, 1, 9));
}

}  // namespace

lzma_compressor::lzma_compressor(int level) : both_position_bits_(level >= 12) {
    if (lzma_lzma_preset(&options_, preset_of(level)))
        throw failure{"liblzma has no preset for level " + std::to_string(level)};
}

lzma_compressor::~lzma_compressor() { lzma_end(&stream_); }

std::uint16_t lzma_compressor::method() const { return format::zip::records::lzma; }

void lzma_compressor::start(const lzma_options_lzma& options, std::vector<std::uint8_t>& out) {
    const std::uint32_t dictionary = options.dict_size;
    lzma_options_lzma chosen = options;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &chosen}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_encoder(&stream_, filters) != LZMA_OK) throw failure{"cannot start liblzma's LZMA encoder"};
    const std::uint32_t version = lzma_version_number();  // major * 10000000 + minor * 10000 + ...
    out.push_back(static_cast<std::uint8_t>(version / 10000000));
    out.push_back(static_cast<std::uint8_t>(version / 10000 % 1000));
    out.push_back(5);  // the properties' size
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc));
    for (unsigned i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(dictionary >> (8 * i)));
}

void lzma_compressor::run(const std::uint8_t* data, std::size_t size, lzma_action action,
                          std::vector<std::uint8_t>& out) {
    stream_.next_in = data;
    stream_.avail_in = size;
    for (;;) {
        const std::size_t had = out.size();
        out.resize(had + std::max<std::size_t>(size / 2, 1 << 16));
        stream_.next_out = out.data() + had;
        stream_.avail_out = out.size() - had;
        const lzma_ret result = lzma_code(&stream_, action);
        out.resize(out.size() - stream_.avail_out);
        if (result == LZMA_STREAM_END) return;
        if (result != LZMA_OK) throw failure{"liblzma's LZMA encoder failed"};
        if (action == LZMA_RUN && stream_.avail_in == 0) return;
    }
}

std::vector<std::uint8_t> lzma_compressor::compressed(const lzma_options_lzma& options, const std::uint8_t* data,
                                                      std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size / 2 + header_length);
    start(options, out);
    run(data, size, LZMA_FINISH, out);
    return out;
}

std::vector<std::uint8_t> lzma_compressor::whole(const std::uint8_t* data, std::size_t size) {
    lzma_options_lzma options = options_;
    const std::size_t needed = std::max<std::size_t>(size, smallest_dictionary);
    options.dict_size = static_cast<std::uint32_t>(std::min<std::size_t>(options_.dict_size, needed));
    std::vector<std::uint8_t> out = compressed(options, data, size);
    if (both_position_bits_) {
        options.pb = 0;
        std::vector<std::uint8_t> other = compressed(options, data, size);
        if (other.size() < out.size()) out.swap(other);
    }
    if (out.size() >= size) return {};
    return out;
}

std::vector<std::uint8_t> lzma_compressor::piece(const std::uint8_t* data, std::size_t size, bool last) {
    std::vector<std::uint8_t> out;
    if (!streaming_) start(options_, out);
    streaming_ = !last;
    run(data, size, last ? LZMA_FINISH : LZMA_RUN, out);
    return out;
}

}  // namespace quillon::pack
