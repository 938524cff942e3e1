// Round trips of real files from this machine: compressed at test time by
// zlib (every level and strategy) and libdeflate (every level), decoded in
// push and pull mode, compared byte for byte. The samples are several
// slides of the window long, so output crosses the slide many times.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "inflate_helpers.h"

namespace {

using flate_test::bytes;
namespace fs = std::filesystem;

// Whole files (up to 256 KiB of each) from under `root`, in name order,
// until `wanted` bytes are together.
bytes sample_of(const char* root, std::size_t wanted, bool (*accept)(const fs::path&)) {
    std::vector<fs::path> paths;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         it != end; it.increment(error)) {
        if (error) break;
        std::error_code status_error;
        if (it->is_regular_file(status_error) && !it->is_symlink(status_error) && accept(it->path()))
            paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    bytes sample;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        bytes content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        content.resize(std::min<std::size_t>(content.size(), 256 * 1024));
        sample.insert(sample.end(), content.begin(), content.end());
        if (sample.size() >= wanted) break;
    }
    return sample;
}

const bytes& text_sample() {
    static const bytes sample = sample_of("/usr/share", 700000, [](const fs::path& path) {
        auto ext = path.extension().string();
        return ext == ".txt" || ext == ".html" || ext == ".py" || ext == ".h" || ext == ".xml" || ext == ".pl";
    });
    return sample;
}

const bytes& binary_sample() {
    static const bytes sample = sample_of(
        "/usr/lib", 700000, [](const fs::path& path) { return path.string().find(".so") != std::string::npos; });
    return sample;
}

bytes zlib_deflate(const bytes& data, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
    bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<std::uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bytes libdeflate_deflate(const bytes& data, int level) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
    out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

struct producer {
    std::string name;
    bytes (*compress)(const bytes&, int, int);
    int level;
    int strategy;
};

std::vector<producer> producers() {
    std::vector<producer> all;
    auto zlib = [](const bytes& data, int level, int strategy) { return zlib_deflate(data, level, strategy); };
    auto libdeflate = [](const bytes& data, int level, int) { return libdeflate_deflate(data, level); };
    for (int level = 0; level <= 9; ++level)
        all.push_back({"zlib_" + std::to_string(level), zlib, level, Z_DEFAULT_STRATEGY});
    all.push_back({"zlib_filtered", zlib, 6, Z_FILTERED});
    all.push_back({"zlib_huffman_only", zlib, 6, Z_HUFFMAN_ONLY});
    all.push_back({"zlib_rle", zlib, 6, Z_RLE});
    all.push_back({"zlib_fixed", zlib, 6, Z_FIXED});
    for (int level = 1; level <= 12; ++level)
        all.push_back({"libdeflate_" + std::to_string(level), libdeflate, level, 0});
    return all;
}

class real_files : public ::testing::TestWithParam<producer> {};

void expect_round_trip(const bytes& original, const producer& p) {
    ASSERT_GT(original.size(), 4 * 131328u + 32768u) << "sample too small to slide several times";
    bytes compressed = p.compress(original, p.level, p.strategy);
    bytes pushed = flate_test::inflate_push(compressed);
    ASSERT_EQ(pushed.size(), original.size());
    EXPECT_TRUE(pushed == original);
    bytes pulled = flate_test::inflate_pull(compressed);
    ASSERT_EQ(pulled.size(), original.size());
    EXPECT_TRUE(pulled == original);

    // With the bits given back the source stands right after the data.
    bytes followed = compressed;
    const bytes trailer = {'P', 'K', 7, 8, 1, 2, 3, 4, 5, 6, 7, 8};
    followed.insert(followed.end(), trailer.begin(), trailer.end());
    stream::array_input source(followed.data(), static_cast<std::uint32_t>(followed.size()));
    algorithm::flate::decompressor inflater(source, 15, true);
    bytes result;
    stream::vector_output target(result);
    EXPECT_EQ(inflater.copy_to(target), original.size());
    inflater.finish();
    EXPECT_EQ(source.position(), compressed.size());
}

TEST_P(real_files, text_decodes_identically_in_push_and_pull_mode) { expect_round_trip(text_sample(), GetParam()); }

TEST_P(real_files, libraries_decode_identically_in_push_and_pull_mode) {
    expect_round_trip(binary_sample(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(producers, real_files, ::testing::ValuesIn(producers()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
