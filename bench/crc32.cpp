// CRC-32 throughput of the project's kernels against zlib's crc32() and
// libdeflate_crc32() over the same 64 MiB buffer, and the copy transform
// from a buffered input into a vector output against plain memcpy.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "stream/array_input.h"
#include "stream/buffered_input.h"
#include "stream/transform.h"
#include "stream/vector_output.h"
#include "zip/checksum/crc32.h"

namespace {

constexpr std::size_t buffer_size = 64u << 20;

const std::vector<std::uint8_t>& data() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> v(buffer_size);
        std::mt19937_64 random(1);
        for (std::size_t i = 0; i < v.size(); i += 8) {
            std::uint64_t word = random();
            std::memcpy(&v[i], &word, 8);
        }
        return v;
    }();
    return bytes;
}

void report(benchmark::State& state, std::uint32_t value) {
    benchmark::DoNotOptimize(value);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * buffer_size);
}

void crc32_project(benchmark::State& state, algorithm::crc32::implementation which) {
    auto saved = algorithm::crc32::active();
    if (!algorithm::crc32::use(which)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    std::uint32_t value = 0;
    for (auto _ : state) {
        algorithm::crc32 crc;
        crc.update(data().data(), data().size());
        crc.finish();
        value = crc.value();
    }
    algorithm::crc32::use(saved);
    report(state, value);
}

void crc32_folding(benchmark::State& state) { crc32_project(state, algorithm::crc32::implementation::folding); }
void crc32_portable(benchmark::State& state) { crc32_project(state, algorithm::crc32::implementation::portable); }

void crc32_zlib(benchmark::State& state) {
    uLong value = 0;
    for (auto _ : state) value = crc32_z(0, data().data(), data().size());
    report(state, static_cast<std::uint32_t>(value));
}

void crc32_libdeflate(benchmark::State& state) {
    std::uint32_t value = 0;
    for (auto _ : state) value = libdeflate_crc32(0, data().data(), data().size());
    report(state, value);
}

void copy_transform_buffered(benchmark::State& state) {
    std::vector<std::uint8_t> target;
    target.reserve(buffer_size);
    for (auto _ : state) {
        target.clear();
        stream::array_input source(data().data(), static_cast<std::uint32_t>(data().size()));
        stream::buffered_input buffered(source, 65536);
        stream::vector_output out(target);
        stream::copy_transform copy(65536);
        benchmark::DoNotOptimize(copy.process(buffered, out));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * buffer_size);
}

void copy_memcpy(benchmark::State& state) {
    std::vector<std::uint8_t> target(buffer_size);
    for (auto _ : state) {
        std::memcpy(target.data(), data().data(), buffer_size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * buffer_size);
}

}  // namespace

BENCHMARK(crc32_folding)->Unit(benchmark::kMillisecond);
BENCHMARK(crc32_portable)->Unit(benchmark::kMillisecond);
BENCHMARK(crc32_zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(crc32_libdeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(copy_transform_buffered)->Unit(benchmark::kMillisecond);
BENCHMARK(copy_memcpy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
