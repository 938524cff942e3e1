// Inflate speed: the decompressor's push mode (`copy_to` into an output
// that discards) against zlib's streaming inflate (32 KiB window, 64 KiB
// input and output buffers) and libdeflate's whole-buffer decoder, on the
// same zlib level-6 streams of three corpora of real files from this
// machine, built in memory at start: text, executables and libraries, and
// a mix of everything; and two degenerate cases, the text compressed with
// literals only and 64 MiB of zeros (distance-1 runs). Figures are bytes
// of output per second. The project's rows say which fast loops ran.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/array_input.h"
#include "stream/output.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

constexpr std::size_t corpus_size = std::size_t{64} << 20;
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

bytes deflate_level6(const bytes& data, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, strategy);
    bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<std::uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct corpus {
    const char* name;
    bytes original;
    bytes compressed;
};

std::vector<corpus>& corpora() {
    static std::vector<corpus> all = [] {
        std::vector<corpus> made;
        made.push_back({"text", build_corpus(is_text), {}});
        made.push_back({"executables", build_corpus(is_executable), {}});
        made.push_back({"mixed", build_corpus([](const fs::path&) { return true; }), {}});
        // Degenerate cases: literals only, and distance-1 runs of zeros.
        made.push_back({"text_literals_only", made[0].original, {}});
        made.push_back({"zeros", bytes(corpus_size, 0), {}});
        for (auto& c : made) {
            bool literals_only = std::string(c.name) == "text_literals_only";
            c.compressed = deflate_level6(c.original, literals_only ? Z_HUFFMAN_ONLY : Z_DEFAULT_STRATEGY);
            std::fprintf(stderr, "corpus %s: %zu bytes, %zu compressed\n", c.name, c.original.size(),
                         c.compressed.size());
        }
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

void quillon_copy_to(benchmark::State& state, int which) {
    const corpus& c = corpora()[which];
    for (auto _ : state) {
        stream::array_input source(c.compressed.data(), static_cast<std::uint32_t>(c.compressed.size()));
        algorithm::flate::decompressor inflater(source, 15, false);
        discarding_output target;
        if (inflater.copy_to(target) != c.original.size()) state.SkipWithError("wrong size");
        inflater.finish();
    }
    report(state, c);
    const bool bmi2 = algorithm::flate::decompressor::active() == algorithm::flate::decompressor::fast_loops::bmi2;
    state.SetLabel(bmi2 ? "BMI2 loops" : "portable loops");
}

void zlib_streaming(benchmark::State& state, int which) {
    const corpus& c = corpora()[which];
    bytes out(65536);
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, -15);
        std::size_t offset = 0;
        int status = Z_OK;
        while (status == Z_OK) {
            if (z.avail_in == 0) {
                std::size_t n = std::min<std::size_t>(65536, c.compressed.size() - offset);
                z.next_in = const_cast<std::uint8_t*>(c.compressed.data() + offset);
                z.avail_in = static_cast<uInt>(n);
                offset += n;
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            status = inflate(&z, Z_NO_FLUSH);
        }
        if (status != Z_STREAM_END || z.total_out != c.original.size()) state.SkipWithError("zlib failed");
        inflateEnd(&z);
    }
    report(state, c);
}

void libdeflate_whole(benchmark::State& state, int which) {
    const corpus& c = corpora()[which];
    bytes out(c.original.size());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        std::size_t produced = 0;
        if (libdeflate_deflate_decompress(d, c.compressed.data(), c.compressed.size(), out.data(), out.size(),
                                          &produced) != LIBDEFLATE_SUCCESS ||
            produced != c.original.size())
            state.SkipWithError("libdeflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    report(state, c);
}

void register_all() {
    const char* names[] = {"text", "executables", "mixed", "text_literals_only", "zeros"};
    for (int which = 0; which < 5; ++which) {
        std::string suffix = std::string("/") + names[which];
        benchmark::RegisterBenchmark(("quillon_copy_to" + suffix).c_str(), quillon_copy_to, which)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zlib_streaming" + suffix).c_str(), zlib_streaming, which)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libdeflate_whole" + suffix).c_str(), libdeflate_whole, which)
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
