#include "zstd/sequences.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "zstd/bit_reader.h"

namespace algorithm::zstd {

namespace {

// Literal length codes 0 to 35 and match length codes 0 to 52: base value
// and extra bits (RFC 8878, 3.1.1.3.2.1.1).
constexpr std::uint32_t length_base[36] = {0,  1,  2,   3,   4,   5,    6,    7,    8,    9,     10,    11,
                                           12, 13, 14,  15,  16,  18,   20,   22,   24,   28,    32,    40,
                                           48, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};
constexpr std::uint8_t length_extra[36] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  1,  1,
                                           1, 1, 2, 2, 3, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::uint32_t match_base[53] = {3,  4,   5,   6,   7,    8,    9,    10,   11,    12,    13,   14, 15, 16,
                                          17, 18,  19,  20,  21,   22,   23,   24,   25,    26,    27,   28, 29, 30,
                                          31, 32,  33,  34,  35,   37,   39,   41,   43,    47,    51,   59, 67, 83,
                                          99, 131, 259, 515, 1027, 2051, 4099, 8195, 16387, 32771, 65539};
constexpr std::uint8_t match_extra[53] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  1,  1,  1, 1,
                                          2, 2, 3, 3, 4, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
// Offset code c: 2^c plus c extra bits.
constexpr std::uint32_t offset_base[32] = {
    1u << 0,  1u << 1,  1u << 2,  1u << 3,  1u << 4,  1u << 5,  1u << 6,  1u << 7,  1u << 8,  1u << 9,  1u << 10,
    1u << 11, 1u << 12, 1u << 13, 1u << 14, 1u << 15, 1u << 16, 1u << 17, 1u << 18, 1u << 19, 1u << 20, 1u << 21,
    1u << 22, 1u << 23, 1u << 24, 1u << 25, 1u << 26, 1u << 27, 1u << 28, 1u << 29, 1u << 30, 1u << 31};
constexpr std::uint8_t offset_extra[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                           16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

constexpr unsigned max_length_extra = 16;
constexpr unsigned max_offset_extra = 31;

// The three codes: literal lengths, offsets, match lengths (the order of
// the section's modes and tables).
constexpr symbol_values code_values[3] = {
    {length_base, length_extra, 35, 9},
    {offset_base, offset_extra, 31, 8},
    {match_base, match_extra, 52, 9},
};

// The predefined distributions (RFC 8878, 3.1.1.3.2.2).
constexpr std::int16_t length_default[36] = {4, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1,  1,  2,  2,
                                             2, 2, 2, 2, 2, 2, 2, 3, 2, 1, 1, 1, 1, 1, -1, -1, -1, -1};
constexpr std::int16_t offset_default[29] = {1, 1, 1, 1, 1, 1, 2, 2, 2, 1,  1,  1,  1,  1, 1,
                                             1, 1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1};
constexpr std::int16_t match_default[53] = {1, 4, 3, 2, 2, 2, 2, 2, 2, 1, 1,  1,  1,  1,  1,  1,  1, 1,
                                            1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  1,  1,  1,  1,  1,  1, 1,
                                            1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1};
constexpr int total(const std::int16_t* probabilities, int symbols) {
    int sum = 0;
    for (int s = 0; s < symbols; ++s) sum += probabilities[s] < 0 ? 1 : probabilities[s];
    return sum;
}
static_assert(total(length_default, 36) == 1 << 6, "the literal length distribution fills its 64 states");
static_assert(total(offset_default, 29) == 1 << 5, "the offset distribution fills its 32 states");
static_assert(total(match_default, 53) == 1 << 6, "the match length distribution fills its 64 states");

struct predefined_distribution {
    const std::int16_t* probabilities;
    unsigned symbols;
    unsigned log;
};
constexpr predefined_distribution defaults[3] = {
    {length_default, 36, 6}, {offset_default, 29, 5}, {match_default, 53, 6}};

// Bits: after a refill the reader holds at least `held_bits`. A sequence
// takes its offset and match length extra bits, refills, then its literal
// length extra bits and the three state updates.
constexpr unsigned held_bits = 57;
static_assert(max_offset_extra + max_length_extra <= held_bits, "offset and match length bits follow one refill");
static_assert(max_length_extra + 2 * fse_table::largest_log + 8 <= held_bits,
              "literal length bits and the state updates follow one refill");
// A word refill steps back by the whole bytes consumed, at most
// 7 + `held_bits` bits; it is taken while `ptr` is at least
// `fast_stream_margin` bytes after the stream's first byte.
constexpr std::ptrdiff_t fast_stream_margin = 8;
static_assert(7 + held_bits <= 8 * fast_stream_margin, "a word refill stays inside the stream");

void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }
void copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }

// `length` bytes from `from` to `to`: 16, then 32 a step, so that most
// literal runs and matches take one or two stores. The source is 16 or
// more bytes behind, or does not overlap (a second store of a step reads
// what the first one wrote only when it lies 16 or more bytes behind).
// Writes and reads up to `wild_overrun` bytes past the end.
constexpr std::size_t wild_overrun = 31;
static_assert(sequences::copy_slack >= wild_overrun, "the slack takes a copy's overrun");
[[gnu::always_inline]] inline void wild_copy(std::uint8_t* to, const std::uint8_t* from, std::size_t length) {
    copy16(to, from);
    if (length <= 16) return;
    std::uint8_t* const end = to + length;
    to += 16;
    from += 16;
    do {
        copy16(to, from);
        copy16(to + 16, from + 16);
        to += 32;
        from += 32;
    } while (to < end);
}

// A match `distance` (1 to 15) back that may overlap itself: by words
// from 8, else bytewise until the pattern repeats at a distance of 8 or
// more. Writes up to 15 bytes past the end.
void copy_short_distance(std::uint8_t* out, std::size_t distance, std::size_t length) {
    std::uint8_t* const end = out + length;
    const std::uint8_t* from = out - distance;
    if (distance >= 8) {
        do {
            copy8(out, from);
            out += 8;
            from += 8;
        } while (out < end);
        return;
    }
    if (distance == 1) {
        std::memset(out, *from, length);
        return;
    }
    const std::size_t step = distance * ((8 + distance - 1) / distance);
    std::uint8_t* const bytewise = out + (step - distance);
    do *out++ = *from++;
    while (out < end && out < bytewise);
    from = out - step;
    while (out < end) {
        copy8(out, from);
        out += 8;
        from += 8;
    }
}

[[gnu::always_inline]] inline void copy_match(std::uint8_t* out, std::size_t distance, std::size_t length) {
    if (distance >= 16)
        wild_copy(out, out - distance, length);
    else
        copy_short_distance(out, distance, length);
}

}  // namespace

void sequences::fail(const char* message) { throw algorithm::exception(message, "algorithm::zstd::sequences"); }

void sequences::reset() {
    lengths.kind = offsets.kind = matches.kind = table_kind::none;
    repeats[0] = 1;
    repeats[1] = 4;
    repeats[2] = 8;
}

std::size_t sequences::read_table(coded_table& t, unsigned mode, const std::uint8_t* data, std::size_t size,
                                  int which) {
    switch (mode) {
        case 0:
            if (t.kind != table_kind::predefined) {
                const predefined_distribution& d = defaults[which];
                t.table.build(d.probabilities, d.symbols, d.log, code_values[which]);
                t.kind = table_kind::predefined;
            }
            return 0;
        case 1:
            if (size < 1) fail("truncated sequences section");
            t.table.repeat(data[0], code_values[which]);
            t.kind = table_kind::other;
            return 1;
        case 2: {
            const std::size_t used = t.table.read(data, size, code_values[which]);
            t.kind = table_kind::other;
            return used;
        }
        default:
            if (t.kind == table_kind::none) fail("repeated table without a previous one");
            return 0;
    }
}

void sequences::run(const std::uint8_t* data, std::size_t size, const std::uint8_t* literals, std::size_t literal_count,
                    history& to) {
    const std::uint8_t* const end = data + size;
    if (size < 1) fail("truncated sequences section");
    std::size_t count = data[0];
    const std::uint8_t* p = data + 1;
    if (count >= 128) {
        if (count < 255) {
            if (end - p < 1) fail("truncated sequences section");
            count = ((count - 128) << 8) + p[0];
            p += 1;
        } else {
            if (end - p < 2) fail("truncated sequences section");
            count = p[0] + (std::size_t{p[1]} << 8) + 0x7F00;
            p += 2;
        }
    }
    std::uint8_t* out = to.out;
    if (count == 0) {
        if (p != end) fail("sequences section too long");
        if (literal_count > static_cast<std::size_t>(to.out_end - out)) fail("block larger than its maximum");
        std::memcpy(out, literals, literal_count);
        to.out = out + literal_count;
        return;
    }
    if (end - p < 1) fail("truncated sequences section");
    const unsigned modes = *p++;
    if (modes & 3) fail("reserved bits set in the sequences header");
    p += read_table(lengths, modes >> 6, p, static_cast<std::size_t>(end - p), 0);
    p += read_table(offsets, (modes >> 4) & 3, p, static_cast<std::size_t>(end - p), 1);
    p += read_table(matches, (modes >> 2) & 3, p, static_cast<std::size_t>(end - p), 2);

    bit_reader r;
    if (!r.start(p, static_cast<std::size_t>(end - p))) fail("bad sequences stream");
#if defined(__x86_64__)
    if (loops == fast_loops::bmi2) return run_bmi2(r, count, literals, literal_count, to);
#endif
    run_portable(r, count, literals, literal_count, to);
}

void sequences::run_portable(bit_reader& r, std::size_t count, const std::uint8_t* literals, std::size_t literal_count,
                             history& to) {
    run_loop(r, count, literals, literal_count, to);
}

#if defined(__x86_64__)
void sequences::run_bmi2(bit_reader& r, std::size_t count, const std::uint8_t* literals, std::size_t literal_count,
                         history& to) {
    run_loop(r, count, literals, literal_count, to);
}
#endif

[[gnu::always_inline]] inline void sequences::run_loop(bit_reader& reader, std::size_t count,
                                                       const std::uint8_t* literals, std::size_t literal_count,
                                                       history& to) {
    // The hot state lives in locals for the length of the loop (the
    // reader too: stores of output bytes could alias its fields).
    bit_reader r = reader;
    std::uint8_t* out = to.out;
    // The tables stay members: reached from `this` they take no registers
    // of their own, and registers are short.
    std::uint32_t rep0 = repeats[0], rep1 = repeats[1], rep2 = repeats[2];
    unsigned length_state = r.read(lengths.table.log);
    unsigned offset_state = r.read(offsets.table.log);
    unsigned match_state = r.read(matches.table.log);
    const std::uint8_t* literal = literals;
    const std::uint8_t* const literal_end = literals + literal_count;
    std::uint8_t* const out_end = to.out_end;
    std::uint8_t* const segment = to.segment;
    const std::uint32_t window = to.window;

    const std::uint8_t* const fast_end = r.begin + fast_stream_margin;
    auto refill = [&r, fast_end] {
        if (r.ptr >= fast_end)
            r.refill_fast();
        else
            r.refill();
    };
    refill();
    for (;;) {
        // Each entry's fields as scalars: copies of the entries would go
        // through the stack.
        const fse_table::entry& l = lengths.table.entries[length_state];
        const fse_table::entry& o = offsets.table.entries[offset_state];
        const fse_table::entry& m = matches.table.entries[match_state];
        const unsigned length_next = l.next_base, length_bits = l.bits;
        const unsigned offset_next = o.next_base, offset_bits = o.bits;
        const unsigned match_next = m.next_base, match_bits = m.bits;
        const std::uint32_t offset_base = o.base;
        std::uint32_t offset = offset_base + r.read(o.extra);
        const std::size_t match_length = m.base + r.read(m.extra);
        refill();
        const std::size_t literal_length = l.base + r.read(l.extra);

        // Offset values 1 to 3 name a repeat offset, shifted by one after
        // a sequence without literals, where 3 means the first minus one.
        if (offset_base > 2) {
            // Codes 2 and up: a new offset.
            rep2 = rep1;
            rep1 = rep0;
            rep0 = offset - 3;
        } else {
            const unsigned which = offset - 1 + (literal_length == 0);
            if (which > 0) {
                const std::uint32_t chosen = which == 1 ? rep1 : which == 2 ? rep2 : rep0 - 1;
                if (which != 1) rep2 = rep1;
                rep1 = rep0;
                rep0 = chosen;
            }
        }
        offset = rep0;

        // The last sequence leaves the states as they are.
        const bool last = --count == 0;
        if (!last) {
            length_state = length_next + r.read(length_bits);
            match_state = match_next + r.read(match_bits);
            offset_state = offset_next + r.read(offset_bits);
            refill();
        }

        if (literal_length > static_cast<std::size_t>(literal_end - literal))
            fail("literal length beyond the literals");
        if (literal_length + match_length > static_cast<std::size_t>(out_end - out))
            fail("block larger than its maximum");
        wild_copy(out, literal, literal_length);
        out += literal_length;
        literal += literal_length;

        // Offsets 1 up to the window and the current segment's bytes.
        const std::size_t in_segment = static_cast<std::size_t>(out - segment);
        if (std::size_t{offset} - 1 < std::min<std::size_t>(in_segment, window)) {
            copy_match(out, offset, match_length);
            out += match_length;
        } else {
            // Rare: a match from the previous segment, or a bad offset.
            if (offset == 0) fail("match offset 0");
            if (offset > window) fail("match offset beyond the window");
            const std::size_t back = offset - in_segment;
            if (back > to.previous_size) fail("match offset before the start of the frame");
            // The previous segment's bytes lie at least `copy_slack` bytes
            // after anything written since it ended (decompressor.cpp), and
            // `copy_slack` readable bytes follow its end.
            const std::size_t first = std::min(match_length, back);
            wild_copy(out, to.previous_end - back, first);
            out += first;
            if (match_length > first) {
                copy_match(out, offset, match_length - first);
                out += match_length - first;
            }
        }
        if (last) break;
    }
    r.refill();
    if (!r.finished()) fail(r.overread() ? "truncated sequences stream" : "sequences stream not fully used");
    repeats[0] = rep0, repeats[1] = rep1, repeats[2] = rep2;

    const std::size_t rest = static_cast<std::size_t>(literal_end - literal);
    if (rest > static_cast<std::size_t>(out_end - out)) fail("block larger than its maximum");
    std::memcpy(out, literal, rest);
    to.out = out + rest;
}

}  // namespace algorithm::zstd
