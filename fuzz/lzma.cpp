// Differential fuzzer: every input is five property bytes, a flags byte and
// LZMA data, decoded by the project's decompressor (push and pull mode) and
// by liblzma's raw decoder.
//
// Flags: bit 0, the end marker (Zip's general-purpose bit 1); bit 1, with
// the marker, an unknown size; bits 2 to 7, s, give the size: s below 24,
// else 23 + 16 * (s - 23)^3 (up to 1024023 bytes).
//
// liblzma decodes without the marker as LZMA1EXT with the size and
// LZMA_LZMA1EXT_ALLOW_EOPM (the range coder ends at the size, or a marker
// follows at once), with the marker as LZMA1 (until the marker, whatever
// the size).
// - Push and pull mode must agree: same bytes and source position, or the
//   same error.
// - Where liblzma succeeds, the project must give the same bytes and leave
//   its source where liblzma stopped reading; with the marker and a known
//   size it must instead fail, as "data longer than the declared size",
//   where liblzma gave more than the size.
// - Where liblzma fails, the project must fail too.
// Intended differences, excused:
// - lc + lp above 4, which liblzma does not take: only the modes are
//   compared.
// - A match at a distance beyond the declared dictionary size (at least
//   4096) but within that size rounded up to a multiple of 16, which
//   liblzma's dictionary is: the project fails it.
// - An unknown size with a declared dictionary above 128 MiB: the project
//   fails it as "dictionary too large" before decoding.
// Output beyond 1.25 MiB (a stream of unknown size) is not compared. The
// dictionary liblzma is given is cut to what the output can use, so that
// it allocates no more than the project.
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "lzma/decompressor.h"
#include "stream/array_input.h"
#include "stream/output.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::size_t output_cap = std::size_t{5} << 18;

struct result {
    bool ok = false;
    bool capped = false;  // more output than `output_cap`: not compared
    std::string error;
    bytes output;
    std::uint64_t consumed = 0;
};

struct input_case {
    algorithm::lzma::properties p;
    bool end_marker;
    std::uint64_t size;
    const std::uint8_t* data;
    std::size_t length;
};

[[noreturn]] void fault(const char* what, const result& ours, const result& other) {
    std::fprintf(stderr, "%s\n  project: %s (%zu bytes, %llu read)\n  other:   %s (%zu bytes, %llu read)\n", what,
                 ours.ok ? "ok" : ours.error.c_str(), ours.output.size(),
                 static_cast<unsigned long long>(ours.consumed), other.ok ? "ok" : other.error.c_str(),
                 other.output.size(), static_cast<unsigned long long>(other.consumed));
    std::abort();
}

// Keeps what it is given up to the cap, then throws.
class capped_output : public stream::output {
public:
    struct full {};
    explicit capped_output(bytes& kept) : kept(kept) {}
    using stream::output::write;
    void write(const void* data, std::uint32_t length) override {
        if (kept.size() + length > output_cap) throw full{};
        const auto* p = static_cast<const std::uint8_t*>(data);
        kept.insert(kept.end(), p, p + length);
    }
    void put(int byte) override {
        const auto b = static_cast<std::uint8_t>(byte);
        write(&b, 1);
    }
    stream::size_type position() override { return kept.size(); }

private:
    bytes& kept;
};

result decode_push(const input_case& c) {
    result r;
    stream::array_input source(c.data, static_cast<std::uint32_t>(c.length));
    try {
        algorithm::lzma::decompressor decoder(source, c.p, c.size, c.end_marker);
        capped_output target(r.output);
        decoder.copy_to(target);
        decoder.finish();
        r.ok = true;
        r.consumed = source.position();
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    } catch (const capped_output::full&) {
        r.capped = true;
    }
    return r;
}

result decode_pull(const input_case& c) {
    result r;
    stream::array_input source(c.data, static_cast<std::uint32_t>(c.length));
    try {
        algorithm::lzma::decompressor decoder(source, c.p, c.size, c.end_marker);
        std::uint8_t piece[5000];
        for (std::uint32_t n = 1;; n = n * 3 % 4999 + 1) {
            const std::uint32_t got = decoder.read(piece, n);
            if (got == 0) break;
            r.output.insert(r.output.end(), piece, piece + got);
            if (r.output.size() > output_cap) {
                r.capped = true;
                return r;
            }
        }
        decoder.finish();
        r.ok = true;
        r.consumed = source.position();
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    }
    return r;
}

result decode_liblzma(const input_case& c) {
    result r;
    lzma_options_lzma options{};
    options.lc = static_cast<std::uint32_t>(c.p.lc);
    options.lp = static_cast<std::uint32_t>(c.p.lp);
    options.pb = static_cast<std::uint32_t>(c.p.pb);
    const std::uint64_t useful =
        c.size == stream::unknown_size ? std::uint64_t{1} << 24 : std::max<std::uint64_t>(c.size, 4096);
    options.dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(c.p.dictionary_size, useful));
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (!c.end_marker) {
        filters[0].id = LZMA_FILTER_LZMA1EXT;
        options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzma_set_ext_size(options, c.size);
    }
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&z, filters) != LZMA_OK) std::abort();
    // Grown as needed: clearing the whole cap each run would cost more
    // than most decodes.
    r.output.resize(65536);
    z.next_in = c.data;
    z.avail_in = c.length;
    lzma_ret status;
    for (;;) {
        z.next_out = r.output.data() + z.total_out;
        z.avail_out = r.output.size() - z.total_out;
        status = lzma_code(&z, LZMA_FINISH);
        if (status != LZMA_OK) break;
        if (z.avail_out != 0) continue;
        if (r.output.size() > output_cap) break;
        r.output.resize(std::min(r.output.size() * 2, output_cap + 1));
    }
    r.output.resize(z.total_out);
    r.consumed = z.total_in;
    r.ok = status == LZMA_STREAM_END;
    r.capped = status == LZMA_OK && z.total_out > output_cap;
    if (!r.ok) r.error = "liblzma error " + std::to_string(status);
    lzma_end(&z);
    return r;
}

void compare_modes(const result& push, const result& pull) {
    // Push mode writes a slide of the ring at a time, pull mode a refill:
    // past the cap, one may already have failed where the other stopped.
    if (push.capped || pull.capped) {
        if (push.ok || pull.ok) fault("push and pull mode disagree on the output's length", push, pull);
        return;
    }
    if (push.ok != pull.ok || push.error != pull.error) fault("push and pull mode disagree", push, pull);
    if (push.ok && (push.output != pull.output || push.consumed != pull.consumed))
        fault("push and pull mode produce different results", push, pull);
}

bool ends_with(const std::string& text, const char* tail) {
    const std::string t(tail);
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// The project fails where liblzma decodes, on purpose.
bool intended_failure(const input_case& c, const result& ours) {
    const std::uint32_t dictionary = std::max(c.p.dictionary_size, algorithm::lzma::decompressor::min_dictionary);
    if (ends_with(ours.error, "match distance beyond the dictionary") && dictionary % 16 != 0) return true;
    return c.size == stream::unknown_size && ends_with(ours.error, "dictionary too large");
}

std::uint64_t size_of(unsigned s) {
    if (s < 24) return s;
    const std::uint64_t k = s - 23;
    return 23 + 16 * k * k * k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < algorithm::lzma::properties::size + 1) return 0;
    input_case c{};
    try {
        c.p = algorithm::lzma::properties::parse(data);
    } catch (const algorithm::exception&) {
        return 0;
    }
    const std::uint8_t flags = data[algorithm::lzma::properties::size];
    c.end_marker = flags & 1;
    c.size = c.end_marker && (flags & 2) ? stream::unknown_size : size_of(flags >> 2);
    c.data = data + algorithm::lzma::properties::size + 1;
    c.length = size - algorithm::lzma::properties::size - 1;

    const result push = decode_push(c);
    compare_modes(push, decode_pull(c));
    if (push.capped || c.p.lc + c.p.lp > 4) return 0;

    const result other = decode_liblzma(c);
    if (other.capped) return 0;
    if (other.ok) {
        if (c.end_marker && c.size != stream::unknown_size && other.output.size() > c.size) {
            if (!ends_with(push.error, "data longer than the declared size"))
                fault("the project takes more than the declared size", push, other);
        } else if (!push.ok) {
            if (!intended_failure(c, push)) fault("liblzma decodes what the project rejects", push, other);
        } else if (push.output != other.output) {
            fault("outputs differ", push, other);
        } else if (push.consumed != other.consumed) {
            fault("compressed data ends elsewhere", push, other);
        }
    } else if (push.ok) {
        fault("the project decodes what liblzma rejects", push, other);
    }
    return 0;
}
