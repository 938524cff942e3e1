// Zstandard decoding speed: the project's decompressor in push mode
// (`copy_to` into an output that discards) against libzstd's streaming
// decoder (ZSTD_decompressStream with its recommended 128 KiB input and
// output buffers, as a stream is decoded here) and its one-shot decoder
// (ZSTD_decompressDCtx into a buffer of the whole size), on the same
// frames: three corpora of real files from this machine built in memory at
// start (text, executables and libraries, a mix of everything) at levels 3
// and 19, with content checksums; and the degenerate cases, a run of one
// byte (RLE blocks) and random bytes (raw blocks). Figures are bytes of
// output per second.
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/output.h"
#include "zstd/decompressor.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

// Level 19 takes a while to compress: the corpora are smaller than those
// of the inflate benchmark.
constexpr std::size_t corpus_size = std::size_t{24} << 20;
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

bytes compress(const bytes& data, int level) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, 2);
    bytes out(ZSTD_compressBound(data.size()));
    std::size_t n = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(c);
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

struct corpus {
    std::string name;
    bytes original;
    bytes compressed;
};

std::vector<corpus>& corpora() {
    static std::vector<corpus> all = [] {
        std::vector<corpus> made;
        const bytes text = build_corpus(is_text);
        const bytes executables = build_corpus(is_executable);
        const bytes mixed = build_corpus([](const fs::path&) { return true; });
        for (int level : {3, 19}) {
            const std::string suffix = "_" + std::to_string(level);
            made.push_back({"text" + suffix, text, compress(text, level)});
            made.push_back({"executables" + suffix, executables, compress(executables, level)});
            made.push_back({"mixed" + suffix, mixed, compress(mixed, level)});
        }
        made.push_back({"one_byte_rle", bytes(corpus_size, 'z'), {}});
        bytes noise(corpus_size);
        std::mt19937_64 random(93);
        for (std::size_t i = 0; i < noise.size(); i += 8) {
            const std::uint64_t word = random();
            std::copy_n(reinterpret_cast<const std::uint8_t*>(&word), 8, noise.begin() + i);
        }
        made.push_back({"random_raw", noise, {}});
        for (std::size_t i = made.size() - 2; i < made.size(); ++i) made[i].compressed = compress(made[i].original, 3);
        for (auto& c : made)
            std::fprintf(stderr, "corpus %s: %zu bytes, %zu compressed\n", c.name.c_str(), c.original.size(),
                         c.compressed.size());
        return made;
    }();
    return all;
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

void quillon_copy_to(benchmark::State& state, std::size_t which) {
    const corpus& c = corpora()[which];
    for (auto _ : state) {
        stream::array_input source(c.compressed.data(), static_cast<std::uint32_t>(c.compressed.size()));
        algorithm::zstd::decompressor decoder(source, stream::unknown_size);
        discarding_output target;
        if (decoder.copy_to(target) != c.original.size()) state.SkipWithError("wrong size");
    }
    report(state, c);
}

void libzstd_streaming(benchmark::State& state, std::size_t which) {
    const corpus& c = corpora()[which];
    bytes out(ZSTD_DStreamOutSize());
    const std::size_t in_size = ZSTD_DStreamInSize();
    ZSTD_DCtx* d = ZSTD_createDCtx();
    for (auto _ : state) {
        ZSTD_DCtx_reset(d, ZSTD_reset_session_only);
        std::size_t offset = 0, produced = 0, status = 1;
        while (offset < c.compressed.size()) {
            ZSTD_inBuffer in{c.compressed.data() + offset, std::min(in_size, c.compressed.size() - offset), 0};
            while (in.pos < in.size) {
                ZSTD_outBuffer o{out.data(), out.size(), 0};
                status = ZSTD_decompressStream(d, &o, &in);
                if (ZSTD_isError(status)) break;
                produced += o.pos;
            }
            if (ZSTD_isError(status)) break;
            offset += in.size;
        }
        // Whatever is still buffered.
        for (;;) {
            ZSTD_inBuffer in{nullptr, 0, 0};
            ZSTD_outBuffer o{out.data(), out.size(), 0};
            status = ZSTD_decompressStream(d, &o, &in);
            produced += o.pos;
            if (ZSTD_isError(status) || o.pos < o.size) break;
        }
        if (ZSTD_isError(status) || produced != c.original.size()) state.SkipWithError("libzstd failed");
    }
    ZSTD_freeDCtx(d);
    report(state, c);
}

void libzstd_one_shot(benchmark::State& state, std::size_t which) {
    const corpus& c = corpora()[which];
    bytes out(c.original.size());
    ZSTD_DCtx* d = ZSTD_createDCtx();
    for (auto _ : state) {
        std::size_t n = ZSTD_decompressDCtx(d, out.data(), out.size(), c.compressed.data(), c.compressed.size());
        if (ZSTD_isError(n) || n != c.original.size()) state.SkipWithError("libzstd failed");
        benchmark::DoNotOptimize(out.data());
    }
    ZSTD_freeDCtx(d);
    report(state, c);
}

void register_all() {
    const char* const names[] = {"text_3",         "executables_3", "mixed_3",      "text_19",
                                 "executables_19", "mixed_19",      "one_byte_rle", "random_raw"};
    for (std::size_t which = 0; which < std::size(names); ++which) {
        std::string suffix = std::string("/") + names[which];
        benchmark::RegisterBenchmark(("quillon_copy_to" + suffix).c_str(), quillon_copy_to, which)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libzstd_streaming" + suffix).c_str(), libzstd_streaming, which)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libzstd_one_shot" + suffix).c_str(), libzstd_one_shot, which)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    register_all();
    corpora();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
