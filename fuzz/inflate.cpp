// Differential fuzzer: every input is decoded as raw Deflate by the
// project's decompressor (push and pull mode) and by zlib (windowBits -15).
//
// - Push and pull mode must agree: same bytes, or the same error.
// - Where zlib succeeds, the project must produce the same bytes and, with
//   the bits given back, leave its source where zlib stopped reading.
// - Where zlib fails, the project must fail too, unless zlib's error is one
//   the project's format intends to accept: symbols 286/287 (length 3),
//   288 literal/length or 31/32 distance codes, half-filled codes, and
//   repeat runs cut at the end of the code-length table. zlib's output up to
//   its error must then begin the project's output.
//
// Some inputs are also decoded with the extent read from their first byte
// and as the 64 KiB variant, for safety and push/pull agreement alone.
// Where the processor has more than one kind of fast loop, push mode also
// runs with the portable loops, which must give the same result.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct result {
    bool ok = false;
    std::string error;
    bytes output;
    std::uint64_t consumed = 0;
};

[[noreturn]] void fault(const char* what, const result& ours, const result& other) {
    std::fprintf(stderr, "%s\n  project: %s (%zu bytes)\n  other:   %s (%zu bytes)\n", what,
                 ours.ok ? "ok" : ours.error.c_str(), ours.output.size(), other.ok ? "ok" : other.error.c_str(),
                 other.output.size());
    std::abort();
}

result decode_push(const std::uint8_t* data, std::size_t size, int extent) {
    result r;
    stream::array_input source(data, static_cast<std::uint32_t>(size));
    try {
        algorithm::flate::decompressor inflater(source, extent, true);
        stream::vector_output target(r.output);
        inflater.copy_to(target);
        inflater.finish();
        r.ok = true;
        r.consumed = source.position();
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    }
    return r;
}

result decode_pull(const std::uint8_t* data, std::size_t size, int extent) {
    result r;
    stream::array_input source(data, static_cast<std::uint32_t>(size));
    try {
        algorithm::flate::decompressor inflater(source, extent, true);
        std::uint8_t piece[5000];
        for (std::uint32_t n = 1;; n = n * 3 % 4999 + 1) {
            std::uint32_t got = inflater.read(piece, n);
            if (got == 0) break;
            r.output.insert(r.output.end(), piece, piece + got);
        }
        inflater.finish();
        r.ok = true;
        r.consumed = source.position();
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    }
    return r;
}

result decode_zlib(const std::uint8_t* data, std::size_t size) {
    result r;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    z.next_in = const_cast<std::uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    r.output.resize(1 << 16);
    int status;
    for (;;) {
        z.next_out = r.output.data() + z.total_out;
        z.avail_out = static_cast<uInt>(r.output.size() - z.total_out);
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK || z.avail_out != 0) break;
        r.output.resize(r.output.size() * 2);
    }
    r.output.resize(z.total_out);
    r.consumed = z.total_in;
    r.ok = status == Z_STREAM_END;
    if (!r.ok) r.error = status == Z_DATA_ERROR && z.msg ? z.msg : "truncated";
    inflateEnd(&z);
    return r;
}

bool zlib_error_is_intended_difference(const std::string& error) {
    static const char* const accepted[] = {
        "invalid literal/length code",          // symbols 286 and 287
        "too many length or distance symbols",  // 288 literal/length, 31 or 32 distance codes
        "invalid bit length repeat",            // a run cut at the end of the table
        "invalid code lengths set",             // half-filled code-length code
        "invalid literal/lengths set",          // half-filled codes other than one 1-bit code
        "invalid distances set",
    };
    for (const char* message : accepted)
        if (error == message) return true;
    return false;
}

bool starts_with(const bytes& whole, const bytes& start) {
    return whole.size() >= start.size() && std::equal(start.begin(), start.end(), whole.begin());
}

void compare_modes(const result& push, const result& pull) {
    if (push.ok != pull.ok || push.error != pull.error) fault("push and pull mode disagree", push, pull);
    if (push.ok && (push.output != pull.output || push.consumed != pull.consumed))
        fault("push and pull mode produce different results", push, pull);
}

using loops = algorithm::flate::decompressor::fast_loops;

void compare_loops(const std::uint8_t* data, std::size_t size, const result& push) {
    if (algorithm::flate::decompressor::active() == loops::portable) return;
    const loops chosen = algorithm::flate::decompressor::active();
    algorithm::flate::decompressor::use(loops::portable);
    result portable = decode_push(data, size, 15);
    algorithm::flate::decompressor::use(chosen);
    if (portable.ok != push.ok || portable.error != push.error || portable.output != push.output ||
        portable.consumed != push.consumed)
        fault("the fast loops disagree", push, portable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    result push = decode_push(data, size, 15);
    result pull = decode_pull(data, size, 15);
    compare_modes(push, pull);
    compare_loops(data, size, push);

    result zlib = decode_zlib(data, size);
    if (zlib.ok) {
        if (!push.ok) {
            fault("zlib decodes what the project rejects", push, zlib);
        } else if (push.output != zlib.output) {
            fault("outputs differ", push, zlib);
        } else if (push.consumed != zlib.consumed) {
            fault("compressed data ends elsewhere", push, zlib);
        }
    } else if (push.ok) {
        if (!zlib_error_is_intended_difference(zlib.error)) fault("the project decodes what zlib rejects", push, zlib);
        if (!starts_with(push.output, zlib.output)) fault("zlib's partial output differs", push, zlib);
    }

    if (size > 0 && data[0] >= 10 && data[0] <= 20)
        compare_modes(decode_push(data, size, 0), decode_pull(data, size, 0));
    if (size % 4 == 0) compare_modes(decode_push(data, size, 16), decode_pull(data, size, 16));
    return 0;
}
