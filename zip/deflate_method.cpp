// Method 8: Deflate with its 32 KiB window.
#include "flate/decompressor.h"
#include "zip/method.h"

namespace format::zip {

namespace {

class deflate_decoder : public entry_decoder {
public:
    explicit deflate_decoder(const decoding& given) : inflater_(given.source, window_extent, given.give_back) {}

    void decode(stream::output& target) override {
        inflater_.copy_to(target);
        inflater_.finish();
    }

private:
    static constexpr int window_extent = 15;

    algorithm::flate::decompressor inflater_;
};

}  // namespace

std::unique_ptr<entry_decoder> open_deflated(const decoding& given) { return std::make_unique<deflate_decoder>(given); }

}  // namespace format::zip
