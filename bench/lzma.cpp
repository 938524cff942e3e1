// LZMA decoding speed: the decompressor's push mode (`copy_to` into an
// output that discards) against liblzma's raw LZMA1 decoder, streaming with
// 64 KiB input and output buffers, on the same streams: liblzma's preset 6
// (8 MiB dictionary, lc 3, lp 0, pb 2, end marker) of three corpora of real
// files from this machine, built in memory at start (text, executables and
// libraries, a mix of everything), and three degenerate cases: 64 MiB of
// zeros (one long run of repeats), 8 MiB of random bytes (literals only,
// each bit near even odds) and the text through a 64 KiB dictionary (the
// ring wraps every few hundred symbols). Figures are bytes of output per
// second. The corpora are smaller than inflate's: compressing them is the
// slow part of a run.
#include <benchmark/benchmark.h>
#include <lzma.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "lzma/decompressor.h"
#include "stream/array_input.h"
#include "stream/output.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

constexpr std::size_t corpus_size = std::size_t{16} << 20;
constexpr std::size_t largest_piece = std::size_t{1} << 20;

bool is_text(const fs::path& path) {
    static const char* const extensions[] = {".txt",  ".html", ".htm", ".py", ".pl",  ".pm",  ".xml", ".h",   ".c",
                                             ".json", ".css",  ".js",  ".md", ".rst", ".tcl", ".sh",  ".svg", ".po"};
    std::string ext = path.extension().string();
    return std::any_of(std::begin(extensions), std::end(extensions), [&](const char* e) { return ext == e; });
}

bool is_executable(const fs::path& path) {
    std::string name = path.filename().string();
    if (name.find(".so") != std::string::npos) return true;
    std::error_code error;
    return path.extension().empty() &&
           (fs::status(path, error).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// Up to 1 MiB of each accepted file, spread evenly over the sorted list of
// candidates, until `corpus_size` bytes are together.
bytes build_corpus(bool (*accept)(const fs::path&)) {
    std::vector<fs::path> paths;
    for (const char* root : {"/usr/share", "/usr/lib"}) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
             it != end; it.increment(error)) {
            if (error) break;
            std::error_code status_error;
            if (it->is_regular_file(status_error) && !it->is_symlink(status_error) && accept(it->path()))
                paths.push_back(it->path());
        }
    }
    std::sort(paths.begin(), paths.end());
    bytes corpus;
    corpus.reserve(corpus_size + largest_piece);
    for (std::size_t start = 0; start < 61 && corpus.size() < corpus_size; ++start) {
        for (std::size_t i = start; i < paths.size() && corpus.size() < corpus_size; i += 61) {
            std::ifstream file(paths[i], std::ios::binary);
            bytes piece(largest_piece);
            file.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
            corpus.insert(corpus.end(), piece.begin(), piece.begin() + file.gcount());
        }
    }
    corpus.resize(std::min(corpus.size(), corpus_size));
    return corpus;
}

struct corpus {
    const char* name;
    bytes original;
    std::uint32_t dictionary;
    bytes compressed;
    lzma_options_lzma options;
};

void compress(corpus& c) {
    lzma_lzma_preset(&c.options, 6);
    if (c.dictionary) c.options.dict_size = c.dictionary;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &c.options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&z, filters) != LZMA_OK) std::abort();
    c.compressed.resize(c.original.size() + c.original.size() / 8 + 65536);
    z.next_in = c.original.data();
    z.avail_in = c.original.size();
    z.next_out = c.compressed.data();
    z.avail_out = c.compressed.size();
    if (lzma_code(&z, LZMA_FINISH) != LZMA_STREAM_END) std::abort();
    c.compressed.resize(z.total_out);
    lzma_end(&z);
}

const char* const corpus_names[] = {"text", "executables", "mixed", "zeros", "random", "text_dictionary_64k"};
constexpr int corpus_count = 6;

bytes original_of(int which) {
    switch (which) {
        case 0:
        case 5:
            return build_corpus(is_text);
        case 1:
            return build_corpus(is_executable);
        case 2:
            return build_corpus([](const fs::path&) { return true; });
        case 3:
            return bytes(std::size_t{64} << 20, 0);
        default: {
            bytes noise(std::size_t{8} << 20);
            std::mt19937 random(12345);
            for (auto& b : noise) b = static_cast<std::uint8_t>(random() >> 24);
            return noise;
        }
    }
}

// Each corpus is made when its first benchmark runs, so that a filtered
// run compresses only what it needs.
const corpus& corpus_of(int which) {
    static corpus made[corpus_count];
    corpus& c = made[which];
    if (c.name == nullptr) {
        c.name = corpus_names[which];
        c.original = original_of(which);
        c.dictionary = which == 5 ? 65536 : 0;
        compress(c);
        std::fprintf(stderr, "corpus %s: %zu bytes, %zu compressed\n", c.name, c.original.size(), c.compressed.size());
    }
    return c;
}

// Counts what it is given and keeps nothing.
class discarding_output : public stream::output {
public:
    using stream::output::write;
    void write(const void*, std::uint32_t length) override { count += length; }
    void put(int) override { ++count; }
    stream::size_type position() override { return count; }

private:
    stream::size_type count = 0;
};

void report(benchmark::State& state, const corpus& c) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.original.size()));
}

algorithm::lzma::properties properties_of(const corpus& c) {
    const std::uint32_t d = c.options.dict_size;
    const std::uint8_t packed[] = {static_cast<std::uint8_t>((c.options.pb * 5 + c.options.lp) * 9 + c.options.lc),
                                   static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
                                   static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)};
    return algorithm::lzma::properties::parse(packed);
}

void quillon_copy_to(benchmark::State& state, int which) {
    const corpus& c = corpus_of(which);
    const algorithm::lzma::properties p = properties_of(c);
    for (auto _ : state) {
        stream::array_input source(c.compressed.data(), static_cast<std::uint32_t>(c.compressed.size()));
        algorithm::lzma::decompressor decoder(source, p, c.original.size(), true);
        discarding_output target;
        if (decoder.copy_to(target) != c.original.size()) state.SkipWithError("wrong size");
        decoder.finish();
    }
    report(state, c);
}

void liblzma_streaming(benchmark::State& state, int which) {
    const corpus& c = corpus_of(which);
    bytes out(65536);
    lzma_options_lzma options = c.options;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    for (auto _ : state) {
        lzma_stream z = LZMA_STREAM_INIT;
        if (lzma_raw_decoder(&z, filters) != LZMA_OK) state.SkipWithError("liblzma init failed");
        std::size_t offset = 0;
        lzma_ret status = LZMA_OK;
        while (status == LZMA_OK) {
            if (z.avail_in == 0) {
                std::size_t n = std::min<std::size_t>(65536, c.compressed.size() - offset);
                z.next_in = c.compressed.data() + offset;
                z.avail_in = n;
                offset += n;
            }
            z.next_out = out.data();
            z.avail_out = out.size();
            status = lzma_code(&z, offset == c.compressed.size() ? LZMA_FINISH : LZMA_RUN);
        }
        if (status != LZMA_STREAM_END || z.total_out != c.original.size()) state.SkipWithError("liblzma failed");
        lzma_end(&z);
    }
    report(state, c);
}

void register_all() {
    for (int which = 0; which < corpus_count; ++which) {
        std::string suffix = std::string("/") + corpus_names[which];
        benchmark::RegisterBenchmark(("quillon_copy_to" + suffix).c_str(), quillon_copy_to, which)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("liblzma_streaming" + suffix).c_str(), liblzma_streaming, which)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
