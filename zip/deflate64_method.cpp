// Method 9: Deflate64, the inflate decoder's 64 KiB mode (distance codes 30
// and 31, and length 258 followed by 16 bits of length minus 3).
#include "flate/decompressor.h"
#include "zip/method.h"

namespace format::zip {

namespace {

class deflate64_decoder : public entry_decoder {
public:
    explicit deflate64_decoder(const decoding& given) : inflater_(given.source, window_extent, given.give_back) {}

    void decode(stream::output& target) override {
        inflater_.copy_to(target);
        inflater_.finish();
    }

private:
    static constexpr int window_extent = 16;

    algorithm::flate::decompressor inflater_;
};

}  // namespace

std::unique_ptr<entry_decoder> open_deflate64(const decoding& given) {
    return std::make_unique<deflate64_decoder>(given);
}

}  // namespace format::zip
