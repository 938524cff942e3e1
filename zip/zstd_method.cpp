// Method 93: Zstandard frames, one or more.
#include "zip/method.h"
#include "zstd/decompressor.h"

namespace format::zip {

namespace {

class zstd_decoder : public entry_decoder {
public:
    explicit zstd_decoder(const decoding& given) : decompressor_(given.source, given.declared_size) {}

    void decode(stream::output& target) override {
        decompressor_.copy_to(target);
        decompressor_.finish();
    }

private:
    algorithm::zstd::decompressor decompressor_;
};

}  // namespace

std::unique_ptr<entry_decoder> open_zstd(const decoding& given) { return std::make_unique<zstd_decoder>(given); }

}  // namespace format::zip
