// Differential fuzzer: every input is decoded as Zstandard frames by the
// project's decompressor (push and pull mode) and by libzstd's streaming
// decoder.
//
// - Push and pull mode must agree: same bytes, or the same error; and so
//   must the portable loops and the BMI2 ones, where the processor has them.
// - Where libzstd succeeds, the project must give the same bytes, and
//   again with `expected_size` set to their number; where libzstd fails,
//   the project must fail too. The differences the decompressor intends
//   (decompressor.h) are excused by their messages: libzstd's window limit
//   on the declared window alone, and the project's 11-bit Huffman limit,
//   its window limit on match offsets, its refusal of a literal stream
//   without its padding mark or not used exactly, and of a sequences
//   stream not used exactly.
// - Output beyond `output_cap` is not compared: a few bytes of RLE blocks
//   make megabytes.
//
// Round trip: the input is also compressed by libzstd with parameters
// taken from its first bytes (level -3 to 22, window of 1 KiB and up,
// checksum, content size) and must decode to itself, in push and pull
// mode; the small windows make the history start over many times.
#define ZSTD_STATIC_LINKING_ONLY  // for ZSTD_c_srcSizeHint
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/output.h"
#include "zstd/decompressor.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::size_t output_cap = std::size_t{1} << 20;

struct result {
    bool ok = false;
    bool capped = false;  // stopped at `output_cap`, neither success nor failure
    std::string error;
    bytes output;
};

// Keeps up to `output_cap` bytes, then stops the decoder.
struct cap_reached {};
class capped_output : public stream::output {
public:
    explicit capped_output(bytes& kept) : kept(kept) {}
    using stream::output::write;
    void write(const void* data, std::uint32_t length) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        if (kept.size() + length > output_cap) {
            kept.insert(kept.end(), p, p + (output_cap - kept.size()));
            throw cap_reached{};
        }
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

[[noreturn]] void fault(const char* what, const result& ours, const result& other) {
    std::fprintf(stderr, "%s\n  project: %s (%zu bytes)\n  other:   %s (%zu bytes)\n", what,
                 ours.ok       ? "ok"
                 : ours.capped ? "capped"
                               : ours.error.c_str(),
                 ours.output.size(),
                 other.ok       ? "ok"
                 : other.capped ? "capped"
                                : other.error.c_str(),
                 other.output.size());
    std::abort();
}

result decode_push(const std::uint8_t* data, std::size_t size, stream::size_type expected = stream::unknown_size) {
    result r;
    stream::array_input source(data, static_cast<std::uint32_t>(size));
    try {
        algorithm::zstd::decompressor decoder(source, expected);
        capped_output target(r.output);
        decoder.copy_to(target);
        decoder.finish();
        r.ok = true;
        if (source.position() != size) std::abort();  // frames run to the end of the source
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    } catch (const cap_reached&) {
        r.capped = true;
    }
    return r;
}

result decode_pull(const std::uint8_t* data, std::size_t size) {
    result r;
    stream::array_input source(data, static_cast<std::uint32_t>(size));
    try {
        algorithm::zstd::decompressor decoder(source, stream::unknown_size);
        std::vector<std::uint8_t> piece(300000);
        for (std::uint32_t n = 1;; n = n * 7 % 299993 + 1) {
            const std::uint32_t got = decoder.read(piece.data(), n);
            if (got == 0) break;
            const std::size_t room = output_cap - r.output.size();
            r.output.insert(r.output.end(), piece.begin(), piece.begin() + std::min<std::size_t>(got, room));
            if (got >= room) {
                r.capped = true;
                return r;
            }
        }
        decoder.finish();
        r.ok = true;
    } catch (const algorithm::exception& failure) {
        r.error = failure.where + ": " + failure.message;
    }
    return r;
}

result decode_libzstd(const std::uint8_t* data, std::size_t size) {
    result r;
    static ZSTD_DCtx* const d = ZSTD_createDCtx();
    ZSTD_DCtx_reset(d, ZSTD_reset_session_only);
    ZSTD_inBuffer in{data, size, 0};
    std::size_t status = 1;
    bytes chunk(ZSTD_DStreamOutSize());
    for (;;) {
        ZSTD_outBuffer out{chunk.data(), chunk.size(), 0};
        const std::size_t before = in.pos;
        status = ZSTD_decompressStream(d, &out, &in);
        if (ZSTD_isError(status)) {
            r.error = ZSTD_getErrorName(status);
            break;
        }
        const std::size_t room = output_cap - r.output.size();
        r.output.insert(r.output.end(), chunk.begin(), chunk.begin() + std::min(out.pos, room));
        if (out.pos >= room && out.pos > 0) {
            r.capped = true;
            break;
        }
        if (in.pos == in.size && out.pos < out.size) {
            // Everything given: complete only at a frame's end.
            r.ok = status == 0 && size > 0;
            if (!r.ok) r.error = "truncated";
            break;
        }
        if (in.pos == before && out.pos == 0) {
            r.error = "no progress";
            break;
        }
    }
    return r;
}

bool ends_with(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The project rejects what libzstd takes.
bool project_error_intended(const std::string& error) {
    return ends_with(error, ": Huffman code longer than 11 bits") ||
           ends_with(error, ": match offset beyond the window") || ends_with(error, ": truncated sequences stream") ||
           ends_with(error, ": sequences stream not fully used") || ends_with(error, ": truncated literal stream") ||
           ends_with(error, ": literal stream not fully used") || ends_with(error, ": bad literal stream");
}

// libzstd rejects what the project takes.
bool libzstd_error_intended(const std::string& error) { return error == "Frame requires too much memory for decoding"; }

void compare_modes(const result& push, const result& pull) {
    if (push.capped || pull.capped) {
        const std::size_t n = std::min(push.output.size(), pull.output.size());
        if (!std::equal(push.output.begin(), push.output.begin() + n, pull.output.begin()))
            fault("push and pull mode produce different bytes", push, pull);
        return;
    }
    if (push.ok != pull.ok || push.error != pull.error) fault("push and pull mode disagree", push, pull);
    if (push.ok && push.output != pull.output) fault("push and pull mode produce different results", push, pull);
}

void compare_with_libzstd(const std::uint8_t* data, std::size_t size, const result& ours, const result& lib) {
    if (ours.capped && lib.capped) {
        if (ours.output != lib.output) fault("outputs differ", ours, lib);
        return;
    }
    if (lib.ok || lib.capped) {
        if (!ours.ok && !ours.capped) {
            if (!project_error_intended(ours.error)) fault("libzstd decodes what the project rejects", ours, lib);
            return;
        }
        if (ours.capped != lib.capped) fault("one output reaches the cap", ours, lib);
        if (ours.output != lib.output) fault("outputs differ", ours, lib);
        const result sized = decode_push(data, size, lib.output.size());
        if (!sized.ok || sized.output != lib.output) fault("the expected size changes the result", sized, lib);
        return;
    }
    if ((ours.ok || ours.capped) && !libzstd_error_intended(lib.error))
        fault("the project decodes what libzstd rejects", ours, lib);
}

using loops = algorithm::zstd::decompressor::fast_loops;

// The portable loops must give what the chosen ones give.
void compare_loops(const std::uint8_t* data, std::size_t size, const result& push) {
    const loops chosen = algorithm::zstd::decompressor::active();
    if (chosen == loops::portable) return;
    algorithm::zstd::decompressor::use(loops::portable);
    const result portable = decode_push(data, size);
    algorithm::zstd::decompressor::use(chosen);
    if (portable.ok != push.ok || portable.capped != push.capped || portable.error != push.error ||
        portable.output != push.output)
        fault("the loops disagree", push, portable);
}

// The input compressed by libzstd with parameters from its first bytes,
// and decoded again.
void round_trip(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return;
    const int level = data[0] % 26 - 3;
    const unsigned options = data[1];
    // One context for every run: the high levels' tables are large.
    static ZSTD_CCtx* const c = ZSTD_createCCtx();
    ZSTD_CCtx_reset(c, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(c, ZSTD_c_srcSizeHint, static_cast<int>(size));
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, options & 1);
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, (options >> 1) & 1);
    if (options & 4) ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 10 + static_cast<int>((options >> 3) & 7));
    bytes compressed(ZSTD_compressBound(size) + 64);
    std::size_t n;
    if (options & 0x40) {
        // Streamed in two pieces: the frame does not declare its size.
        ZSTD_outBuffer out{compressed.data(), compressed.size(), 0};
        ZSTD_inBuffer first{data, size / 2, 0};
        n = ZSTD_compressStream2(c, &out, &first, ZSTD_e_continue);
        ZSTD_inBuffer rest{data + size / 2, size - size / 2, 0};
        if (!ZSTD_isError(n)) n = ZSTD_compressStream2(c, &out, &rest, ZSTD_e_end);
        if (n != 0) std::abort();
        n = out.pos;
    } else {
        n = ZSTD_compress2(c, compressed.data(), compressed.size(), data, size);
    }
    if (ZSTD_isError(n)) std::abort();
    compressed.resize(n);
    const bytes original(data, data + size);
    const result push = decode_push(compressed.data(), compressed.size());
    if (!push.ok || push.output != original) fault("round trip fails in push mode", push, {true, false, "", original});
    const result pull = decode_pull(compressed.data(), compressed.size());
    if (!pull.ok || pull.output != original) fault("round trip fails in pull mode", pull, {true, false, "", original});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const result push = decode_push(data, size);
    const result pull = decode_pull(data, size);
    compare_modes(push, pull);
    compare_loops(data, size, push);
    compare_with_libzstd(data, size, push, decode_libzstd(data, size));
    round_trip(data, size);
    return 0;
}
