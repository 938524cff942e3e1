// Method 14: LZMA, behind a header of its own in front of the data: the
// version of the LZMA SDK that wrote it (2 bytes), the size of the
// properties (2 bytes, 5) and the 5 properties. General purpose bit 1 says
// the data ends with an end-of-stream marker.
#include "errors/exception.h"
#include "lzma/decompressor.h"
#include "stream/safe_input.h"
#include "zip/method.h"
#include "zip/records.h"

namespace format::zip {

namespace {

constexpr std::uint32_t version_length = 2, properties_size_length = 2;
constexpr std::uint32_t header_length = version_length + properties_size_length + algorithm::lzma::properties::size;

algorithm::lzma::properties read_header(stream::input& source) {
    std::uint8_t header[header_length];
    stream::safe_input(source).read(header, header_length);
    const std::uint32_t size = header[version_length] | std::uint32_t{header[version_length + 1]} << 8;
    if (size != algorithm::lzma::properties::size)
        throw format::exception("bad LZMA properties size " + std::to_string(size), "format::zip::lzma_decoder");
    return algorithm::lzma::properties::parse(header + version_length + properties_size_length);
}

class lzma_decoder : public entry_decoder {
public:
    explicit lzma_decoder(const decoding& given)
        : decompressor_(given.source, read_header(given.source), given.declared_size,
                        (given.flags & records::lzma_end_marker_flag) != 0) {}

    void decode(stream::output& target) override {
        decompressor_.copy_to(target);
        decompressor_.finish();
    }

private:
    algorithm::lzma::decompressor decompressor_;
};

}  // namespace

std::unique_ptr<entry_decoder> open_lzma(const decoding& given) { return std::make_unique<lzma_decoder>(given); }

}  // namespace format::zip
