// Round trips of real files from this machine through liblzma's raw LZMA1
// encoder: presets 0 to 9 and extreme ones, several lc/lp/pb, dictionaries
// down to 4 KiB (the ring then wraps thousands of times), with and without
// the end marker, sizes 0, 1, small and several MiB. Each stream decodes
// in push and pull mode to the original, and `finish` leaves the source on
// the first byte after it.
#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "lzma_helpers.h"

namespace {

using lzma_test::bytes;
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
    sample.resize(std::min(sample.size(), wanted));
    return sample;
}

enum class sample { empty, one_byte, small, text, libraries, several_mib };

// Each built on first use: under CTest every test is a process of its own.
const bytes& text() {
    static const bytes sample = sample_of("/usr/share", 2 << 20, [](const fs::path& path) {
        auto ext = path.extension().string();
        return ext == ".txt" || ext == ".html" || ext == ".py" || ext == ".h" || ext == ".xml" || ext == ".pl";
    });
    return sample;
}

const bytes& libraries() {
    static const bytes sample = sample_of(
        "/usr/lib", 2 << 20, [](const fs::path& path) { return path.string().find(".so") != std::string::npos; });
    return sample;
}

bytes first_mib(const bytes& sample) {
    return bytes(sample.begin(), sample.begin() + std::min<std::size_t>(sample.size(), 1 << 20));
}

bytes sample_bytes(sample which) {
    switch (which) {
        case sample::empty:
            return {};
        case sample::one_byte:
            return {'x'};
        case sample::small:
            return bytes(text().begin(), text().begin() + 300);
        case sample::text:
            return first_mib(text());
        case sample::libraries:
            return first_mib(libraries());
        default: {
            bytes all = text();
            const bytes more = first_mib(libraries());
            all.insert(all.end(), more.begin(), more.end());
            return all;
        }
    }
}

// How the end is marked: written or not, and what the decoder is told.
enum class ending {
    size_only,        // no marker; decoded with the size
    marker,           // marker; decoded without a size
    marker_and_size,  // marker; decoded with the size as the upper bound
    marker_as_extra,  // marker; decoded as if none was written, with the size
};

struct producer {
    std::string name;
    sample data;
    std::uint32_t preset;
    int lc, lp, pb;            // -1: the preset's
    std::uint32_t dictionary;  // 0: the preset's
    ending end;
};

std::vector<producer> producers() {
    std::vector<producer> all;
    for (std::uint32_t preset = 0; preset <= 9; ++preset)
        all.push_back(
            {"text_preset_" + std::to_string(preset), sample::text, preset, -1, -1, -1, 0, ending::size_only});
    for (std::uint32_t preset : {0u, 6u, 9u})
        all.push_back({"libraries_extreme_" + std::to_string(preset), sample::libraries, preset | LZMA_PRESET_EXTREME,
                       -1, -1, -1, 0, ending::marker});
    const int contexts[][3] = {{0, 0, 0}, {4, 0, 4}, {0, 4, 0}, {1, 3, 1}, {2, 2, 3}, {3, 1, 2}};
    for (const auto& c : contexts)
        all.push_back(
            {"libraries_lc" + std::to_string(c[0]) + "_lp" + std::to_string(c[1]) + "_pb" + std::to_string(c[2]),
             sample::libraries, 1, c[0], c[1], c[2], 0, ending::marker_and_size});
    all.push_back({"several_mib_dictionary_4k", sample::several_mib, 1, -1, -1, -1, 4096, ending::marker_as_extra});
    all.push_back({"several_mib_dictionary_64k", sample::several_mib, 6, -1, -1, -1, 65536, ending::size_only});
    all.push_back({"several_mib_dictionary_1m_odd", sample::several_mib, 2, -1, -1, -1, (1 << 20) + 5, ending::marker});
    all.push_back({"several_mib_preset_6", sample::several_mib, 6, -1, -1, -1, 0, ending::marker_and_size});
    const std::pair<const char*, sample> tiny[] = {
        {"empty", sample::empty}, {"one_byte", sample::one_byte}, {"small", sample::small}};
    for (const auto& [name, data] : tiny) {
        all.push_back({std::string(name) + "_without_marker", data, 6, -1, -1, -1, 0, ending::size_only});
        all.push_back({std::string(name) + "_with_marker", data, 6, -1, -1, -1, 0, ending::marker});
        all.push_back({std::string(name) + "_with_marker_and_size", data, 6, -1, -1, -1, 0, ending::marker_and_size});
    }
    return all;
}

// liblzma's raw LZMA1 stream and its five property bytes.
lzma_test::stream_case encode(const producer& p, const bytes& data) {
    lzma_options_lzma options;
    EXPECT_FALSE(lzma_lzma_preset(&options, p.preset));
    if (p.lc >= 0) {
        options.lc = static_cast<std::uint32_t>(p.lc);
        options.lp = static_cast<std::uint32_t>(p.lp);
        options.pb = static_cast<std::uint32_t>(p.pb);
    }
    if (p.dictionary) options.dict_size = p.dictionary;
    // LZMA1 always writes the marker, LZMA1EXT without its flag never.
    const bool marker = p.end != ending::size_only;
    options.ext_flags = 0;
    const lzma_filter filters[] = {{marker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                                   {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream z = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_raw_encoder(&z, filters), LZMA_OK);
    bytes out(data.size() + data.size() / 2 + 4096);
    z.next_in = data.data();
    z.avail_in = data.size();
    z.next_out = out.data();
    z.avail_out = out.size();
    EXPECT_EQ(lzma_code(&z, LZMA_FINISH), LZMA_STREAM_END);
    out.resize(z.total_out);
    lzma_end(&z);

    const std::uint32_t d = options.dict_size;
    lzma_test::stream_case c{
        {static_cast<std::uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc), static_cast<std::uint8_t>(d),
         static_cast<std::uint8_t>(d >> 8), static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)},
        data.size(),
        p.end == ending::marker || p.end == ending::marker_and_size,
        out};
    if (p.end == ending::marker) c.size = stream::unknown_size;
    return c;
}

class liblzma_streams : public ::testing::TestWithParam<producer> {};

TEST_P(liblzma_streams, decode_to_the_original_in_push_and_pull_mode) {
    const bytes original = sample_bytes(GetParam().data);
    const lzma_test::stream_case c = encode(GetParam(), original);
    // Followed by what a data descriptor would bring.
    lzma_test::stream_case followed = c;
    const bytes trailer = {'P', 'K', 7, 8, 1, 2, 3, 4, 5, 6, 7, 8};
    followed.compressed.insert(followed.compressed.end(), trailer.begin(), trailer.end());
    std::uint64_t pushed_at = 0, pulled_at = 0;
    const bytes pushed = lzma_test::decode_push(followed, &pushed_at);
    ASSERT_EQ(pushed.size(), original.size());
    EXPECT_TRUE(pushed == original);
    const bytes pulled = lzma_test::decode_pull(followed, &pulled_at);
    ASSERT_EQ(pulled.size(), original.size());
    EXPECT_TRUE(pulled == original);
    EXPECT_EQ(pushed_at, c.compressed.size());
    EXPECT_EQ(pulled_at, c.compressed.size());
}

INSTANTIATE_TEST_SUITE_P(producers, liblzma_streams, ::testing::ValuesIn(producers()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
