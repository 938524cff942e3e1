#include "packer/compressor.h"

#include "packer/deflater.h"
#include "packer/lzma_compressor.h"
#include "packer/output_file.h"
#include "packer/zstd_compressor.h"

namespace quillon::pack {

std::unique_ptr<compressor> make_compressor(method_choice method, int level) {
    switch (method) {
        case method_choice::lzma:
            return std::make_unique<lzma_compressor>(level);
        case method_choice::zstd:
            return std::make_unique<zstd_compressor>(level);
        case method_choice::deflate:
            break;
    }
    return std::make_unique<deflater>(level);
}

method_choice method_named(const std::string& name) {
    if (name == "deflate") return method_choice::deflate;
    if (name == "lzma") return method_choice::lzma;
    if (name == "zstd") return method_choice::zstd;
    throw failure{"--method takes deflate, lzma or zstd, not \"" + name + "\""};
}

}  // namespace quillon::pack
