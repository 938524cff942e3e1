// Round trips through libzstd's encoder: real files from this machine and
// random bytes, at levels 1 to 22 (long windows included), with and
// without checksum and content size, streamed and whole, several frames
// with skippable ones between; decoded in push and pull mode with both
// sequence loops, compared byte for byte.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "zstd_helpers.h"

namespace {

using namespace zstd_test;
namespace fs = std::filesystem;
using loops = algorithm::zstd::decompressor::fast_loops;

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
    sample.resize(std::min(sample.size(), wanted));
    return sample;
}

// Text and libraries, 3 MiB: several windows of the low levels.
const bytes& mixed_sample() {
    static const bytes sample = [] {
        bytes text = sample_of("/usr/share", 1536 * 1024, [](const fs::path& path) {
            auto ext = path.extension().string();
            return ext == ".txt" || ext == ".html" || ext == ".py" || ext == ".h" || ext == ".xml" || ext == ".pl";
        });
        bytes binary = sample_of("/usr/lib", 1536 * 1024,
                                 [](const fs::path& path) { return path.string().find(".so") != std::string::npos; });
        return text + binary;
    }();
    return sample;
}

bytes random_bytes(std::size_t size) {
    std::mt19937 random(93);
    bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

struct settings {
    std::string name;
    int level;
    bool checksum = true;
    bool content_size = true;
    int window_log = 0;  // 0: the level's
    bool streamed = false;
};

bytes compress(const bytes& data, const settings& s) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, s.level);
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, s.checksum);
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, s.content_size);
    if (s.window_log) ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, s.window_log);
    ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, 2);
    bytes out(ZSTD_compressBound(data.size()) + 1024);
    std::size_t n;
    if (s.streamed) {
        // In pieces of 100000 bytes: the frame does not know its size.
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        for (std::size_t at = 0; at < data.size(); at += 100000) {
            ZSTD_inBuffer in{data.data() + at, std::min<std::size_t>(100000, data.size() - at), 0};
            while (in.pos < in.size) ZSTD_compressStream2(c, &o, &in, ZSTD_e_continue);
        }
        ZSTD_inBuffer none{nullptr, 0, 0};
        do n = ZSTD_compressStream2(c, &o, &none, ZSTD_e_end);
        while (n != 0 && !ZSTD_isError(n));
        n = o.pos;
    } else {
        n = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
    }
    ZSTD_freeCCtx(c);
    EXPECT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
    out.resize(n);
    return out;
}

void expect_round_trip(const bytes& compressed, const bytes& original) {
    for (loops kind : {loops::portable, loops::bmi2}) {
        if (!algorithm::zstd::decompressor::use(kind)) continue;
        const bytes pushed = decode_push(compressed);
        ASSERT_EQ(pushed.size(), original.size());
        EXPECT_TRUE(pushed == original);
        const bytes pulled = decode_pull(compressed);
        ASSERT_EQ(pulled.size(), original.size());
        EXPECT_TRUE(pulled == original);
        // With the right expected size too: the window is cut to it.
        EXPECT_TRUE(decode_push(compressed, original.size()) == original);
    }
    algorithm::zstd::decompressor::use(loops::bmi2);
}

class libzstd_frames : public ::testing::TestWithParam<settings> {};

TEST_P(libzstd_frames, decode_to_the_original) {
    const settings& s = GetParam();
    expect_round_trip(compress(mixed_sample(), s), mixed_sample());
}

INSTANTIATE_TEST_SUITE_P(levels, libzstd_frames,
                         ::testing::Values(settings{"level_1", 1}, settings{"level_3", 3}, settings{"level_9", 9},
                                           settings{"level_19", 19}, settings{"level_22_long", 22, true, true, 27},
                                           settings{"negative_level", -5},
                                           settings{"no_checksum_no_size", 3, false, false},
                                           settings{"streamed", 6, true, false, 0, true},
                                           settings{"window_of_1k", 19, true, false, 10, true},
                                           settings{"window_of_64k", 12, true, true, 16}),
                         [](const ::testing::TestParamInfo<settings>& info) { return info.param.name; });

TEST(libzstd_frames, small_and_incompressible_contents) {
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{17}, std::size_t{1000}, std::size_t{200000}}) {
        const bytes original(mixed_sample().begin(), mixed_sample().begin() + static_cast<std::ptrdiff_t>(size));
        for (int level : {1, 19}) expect_round_trip(compress(original, {"", level}), original);
        const bytes noise = random_bytes(size);
        expect_round_trip(compress(noise, {"", 3}), noise);
    }
}

TEST(libzstd_frames, several_frames_with_skippable_frames_between) {
    const bytes& all = mixed_sample();
    const bytes a(all.begin(), all.begin() + 300000), b(all.begin() + 300000, all.begin() + 1200000);
    const bytes skippable = {0x5F, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 'x', 'y', 'z'};
    const bytes frames = compress(a, {"", 3}) + skippable + compress({}, {"", 3}) + compress(b, {"", 19, false}) +
                         skippable + compress(a, {"", 1, true, false, 0, true});
    expect_round_trip(frames, a + b + a);
}

TEST(libzstd_frames, a_truncated_frame_fails_at_every_cut) {
    const bytes original(mixed_sample().begin(), mixed_sample().begin() + 5000);
    const bytes frame = compress(original, {"", 19});
    for (std::size_t cut = 0; cut < frame.size(); cut += 7) {
        const bytes part(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_NE(failure_of([&] { decode_push(part); }), "") << cut;
    }
}

}  // namespace
