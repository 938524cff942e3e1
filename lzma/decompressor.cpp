#include "lzma/decompressor.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "lzma/range_decoder.h"

namespace algorithm::lzma {

namespace {

using namespace models;

// After a literal: 0-3 -> 0, 4-9 -> minus 3, 10-11 -> minus 6.
constexpr std::uint8_t after_literal[states] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};

// Input: every bit the range decoder takes is followed by at most one
// shift of the range, which reads one byte. The longest symbol is a match
// of a new distance from slot 62 or 63: is_match, is_rep, a length of 2
// choices and 8 bits, 6 slot bits, 26 direct bits and 4 align bits. The
// fast loop runs while a whole symbol's bytes are in the block buffer, so
// its reads need no check.
constexpr std::uint32_t max_symbol_bits = 1 + 1 + (2 + 8) + 6 + (30 - align_bits) + align_bits;
static_assert(max_symbol_bits == 48, "the longest symbol");
constexpr std::uint32_t fast_input_margin = max_symbol_bits;

// Output: a symbol writes at most `max_match` bytes, and the fast copies
// store up to `copy_overrun` more. The fast loop runs while that much room
// is left before the ring's end, and `max_match` before the declared size,
// so it neither wraps nor checks the size.
constexpr std::uint32_t copy_overrun = 15;
constexpr std::uint32_t fast_output_margin = max_match + copy_overrun;
static_assert(copy_overrun < dictionary::slack, "bytes stored past a match lie beyond every match's reach");

void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }
void copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }

// The fast loop's match copy from `distance` bytes back, where all of them
// lie in the ring before `out`: 16 bytes a step where source and
// destination are 16 or more bytes apart, by 8 from 8, a run of one byte by
// 16-byte stores; for periods of 2 to 7 bytes, bytewise until the pattern
// repeats at a multiple of its period of at least 8, then by 8. Stores run
// up to `copy_overrun` bytes past the match.
[[gnu::always_inline]] inline std::uint8_t* copy_match(std::uint8_t* out, std::uint32_t distance,
                                                       std::uint32_t length) {
    std::uint8_t* const end = out + length;
    const std::uint8_t* from = out - distance;
    if (distance >= 16) {
        do {
            copy16(out, from);
            out += 16;
            from += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            copy8(out, from);
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        std::uint8_t run[16];
        std::memset(run, *from, sizeof run);
        do {
            std::memcpy(out, run, 16);
            out += 16;
        } while (out < end);
    } else {
        const std::uint32_t step = distance * ((8 + distance - 1) / distance);
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
    return end;
}
static_assert(copy_overrun >= 15, "16-byte steps store up to 15 bytes past the match");

// The fast loop's copy from a source that wraps round the ring's end (the
// ring is full): the part up to the end, then the rest from the beginning,
// where it no longer wraps. The source lies more than `slack` bytes ahead
// of `out`, so the first part copies as a move.
[[gnu::noinline]] std::uint8_t* copy_wrapped(std::uint8_t* out, std::uint32_t distance, std::uint32_t length,
                                             dictionary& ring) {
    const std::uint32_t offset = static_cast<std::uint32_t>(out - ring.begin()) + ring.size() - distance;
    const std::uint32_t first = std::min(length, ring.size() - offset);
    std::memmove(out, ring.begin() + offset, first);
    out += first;
    if (first == length) return out;
    return copy_match(out, distance, length - first);
}

}  // namespace

struct decompressor::cursor {
    const std::uint8_t* in;
    const std::uint8_t* in_end;
    std::uint8_t* out;
    std::uint32_t range;
    std::uint32_t code;
    std::uint32_t state;
    std::uint32_t reps[4];
};

decompressor::decompressor(stream::input& source, const properties& p, stream::size_type uncompressed_size,
                           bool end_marker)
    : generator_input(&source),
      history(history_for(p, uncompressed_size, end_marker)),
      lc(static_cast<std::uint32_t>(p.lc)),
      lp_mask((1u << p.lp) - 1),
      pb_mask((1u << p.pb) - 1),
      uncompressed_size(uncompressed_size),
      end_marker(end_marker),
      block_input(source, block_size),
      probabilities(new std::uint16_t[model_count(p)]),
      ring(history, sink()),
      out(ring.begin()) {
    std::fill_n(probabilities.get(), model_count(p), probability_half);
}

std::size_t decompressor::model_count(const properties& p) {
    return literal_at + (std::size_t{literal_models} << (p.lc + p.lp));
}

std::uint32_t decompressor::history_for(const properties& p, stream::size_type uncompressed_size, bool end_marker) {
    if (p.lc < 0 || p.lc > 8 || p.lp < 0 || p.lp > 4 || p.pb < 0 || p.pb > 4)
        throw algorithm::exception("invalid properties byte", "algorithm::lzma::properties");
    if (uncompressed_size == stream::unknown_size && !end_marker) fail("an unknown size needs the end marker");
    stream::size_type history = std::max(p.dictionary_size, min_dictionary);
    if (uncompressed_size != stream::unknown_size)
        history = std::min(history, std::max<stream::size_type>(uncompressed_size, min_dictionary));
    if (history > max_dictionary) fail("dictionary too large");
    return static_cast<std::uint32_t>(history);
}

void decompressor::fail(const char* message) { throw algorithm::exception(message, "algorithm::lzma::decompressor"); }

void decompressor::distance_fault(std::uint32_t distance, std::uint32_t decoded) {
    fail(distance >= decoded ? "match distance beyond the decoded data" : "match distance beyond the dictionary");
}

stream::size_type decompressor::copy_to(stream::output& target) {
    const stream::size_type start = ring.position(out);
    ring.set_target(target);
    if (!finished) decode(stream::everything);
    block_input.give_back();
    ring.flush(out);
    target.flush();
    return ring.position(out) - start;
}

void decompressor::finish() { block_input.give_back(); }

stream::size_type decompressor::produce(stream::size_type minimum) {
    if (finished) return 0;
    ring.set_target(sink());
    const stream::size_type start = ring.position(out);
    decode(minimum < stream::everything - start ? start + minimum : stream::everything);
    ring.flush(out);
    return ring.position(out) - start;
}

void decompressor::start() {
    // The encoder's first byte is always 0 (its carry cache starts empty);
    // the next four are the first code.
    while (block_input.available() < properties::size && !source_ended)
        if (block_input.refill() == 0) source_ended = true;
    const std::uint8_t* first = block_input.data();
    if (block_input.available() >= 1 && first[0] != 0) fail("first byte of the range coder data is not zero");
    if (block_input.available() < properties::size) fail("unexpected end of compressed data");
    code = std::uint32_t{first[1]} << 24 | std::uint32_t{first[2]} << 16 | std::uint32_t{first[3]} << 8 | first[4];
    range = 0xFFFFFFFF;
    block_input.advance(properties::size);
    started = true;
}

decompressor::cursor decompressor::take_cursor() {
    return {block_input.data(),
            block_input.data() + block_input.available(),
            out,
            range,
            code,
            state,
            {reps[0], reps[1], reps[2], reps[3]}};
}

void decompressor::keep_cursor(const cursor& at) {
    block_input.advance(static_cast<std::uint32_t>(at.in - block_input.data()));
    out = at.out;
    range = at.range;
    code = at.code;
    state = at.state;
    std::copy(at.reps, at.reps + 4, reps);
}

std::uint32_t decompressor::input_left(const cursor& at) { return static_cast<std::uint32_t>(at.in_end - at.in); }

void decompressor::top_up(cursor& at) {
    block_input.advance(static_cast<std::uint32_t>(at.in - block_input.data()));
    while (block_input.available() < fast_input_margin && !source_ended)
        if (block_input.refill() == 0) source_ended = true;
    at.in = block_input.data();
    at.in_end = at.in + block_input.available();
}

std::uint8_t* decompressor::fast_output_end(std::uint8_t* at, stream::size_type stop_at) {
    const auto ring_room = static_cast<std::uint32_t>(ring.end() - at);
    if (ring_room <= fast_output_margin) return at;
    stream::size_type room = ring_room - fast_output_margin;
    const stream::size_type position = ring.position(at);
    if (uncompressed_size != stream::unknown_size) {
        const stream::size_type remaining = uncompressed_size - position;
        if (remaining <= max_match) return at;
        room = std::min(room, remaining - max_match);
    }
    if (stop_at != stream::everything) room = std::min(room, stop_at - position);
    return at + room;
}

void decompressor::decode(stream::size_type stop_at) {
    if (broken) throw un::logic_error("decoding after a failure", "algorithm::lzma::decompressor");
    broken = true;
    if (!started) start();
    cursor at = take_cursor();
    for (;;) {
        const stream::size_type position = ring.position(at.out);
        if (position == uncompressed_size && !end_marker && at.code == 0) {
            finished = true;
            break;
        }
        if (position >= stop_at) break;
        if (input_left(at) < fast_input_margin && !source_ended) top_up(at);
        const std::uint8_t* const out_fast_end = fast_output_end(at.out, stop_at);
        const bool fast = input_left(at) >= fast_input_margin && at.out < out_fast_end;
        if ((fast ? run<false>(at, out_fast_end) : run<true>(at, nullptr)) == outcome::marker) {
            end_at_marker(at);
            finished = true;
            break;
        }
    }
    keep_cursor(at);
    broken = false;
}

void decompressor::end_at_marker(const cursor& at) {
    if (!end_marker && ring.position(at.out) < uncompressed_size) fail("data shorter than the declared size");
    if (at.code != 0) fail("range coder not finished at the end of the data");
}

// Measured against liblzma on text, executables and random bytes, and not
// kept: branches instead of the branch-free tree bits (random data 0.87x
// of liblzma instead of 1.6x, text no better); early loads of both next
// models in the matched literal, as the trees have them (executables 8%
// slower: the extra work outweighs the shorter chain); byte loops for
// short matches, and exact copies through memcpy (within noise of the
// 16-byte steps, which are simpler). The range decoder was first a set of
// lambdas over the loop's locals: GCC then kept the range and the code in
// memory, at 0.8x of liblzma.
namespace {

// The byte `distance` (at most the ring's size) back from `offset`, round
// the ring; the caller has checked the distance.
[[gnu::always_inline]] inline std::uint8_t back(const std::uint8_t* base, std::uint32_t offset, std::uint32_t size,
                                                std::uint32_t distance) {
    return base[offset >= distance ? offset - distance : offset + size - distance];
}

}  // namespace

template <bool careful>
decompressor::outcome decompressor::run(cursor& at, const std::uint8_t* const out_fast_end) {
    // The hot state lives in locals for the length of the loop; members
    // are copied too, as every byte stored through `out` may alias them.
    range_decoder<careful> rc{at.in, at.in_end, at.range, at.code};
    const std::uint8_t* const in_fast_end = careful ? at.in_end : at.in_end - fast_input_margin;
    std::uint8_t* out = at.out;
    std::uint32_t state = at.state;
    std::uint32_t rep0 = at.reps[0], rep1 = at.reps[1], rep2 = at.reps[2], rep3 = at.reps[3];
    std::uint16_t* const probs = probabilities.get();
    std::uint8_t* const base = ring.begin();
    const std::uint32_t ring_size = ring.size();
    const std::uint32_t farthest = history;
    const std::uint32_t position_mask = pb_mask;
    const std::uint32_t literal_position_mask = lp_mask;
    const std::uint32_t literal_context = lc;
    // Bytes of output before `base`'s lap that a match may still reach:
    // all the ring once it has wrapped. The careful step may wrap, but only
    // after its checks.
    const std::uint32_t lap = ring.wrapped() ? ring_size : 0;
    // Only the careful step looks at the declared size: the fast loop keeps
    // `max_match` bytes away from it.
    const stream::size_type remaining = careful ? uncompressed_size - ring.position(out) : 0;

    auto save = [&] {
        at.in = rc.in;
        at.out = out;
        at.range = rc.range;
        at.code = rc.code;
        at.state = state;
        at.reps[0] = rep0;
        at.reps[1] = rep1;
        at.reps[2] = rep2;
        at.reps[3] = rep3;
    };
    auto put = [&](std::uint8_t byte) {
        *out++ = byte;
        if constexpr (careful)
            if (out == base + ring_size) out = ring.wrap();
    };

    do {
        const auto offset = static_cast<std::uint32_t>(out - base);
        const std::uint32_t position_state = offset & position_mask;
        if (!rc.decide(probs[is_match_at + state * position_states + position_state])) {
            if constexpr (careful)
                if (remaining == 0) fail("data longer than the declared size");
            const std::uint32_t context = ((offset & literal_position_mask) << literal_context) +
                                          (std::uint32_t{out[-1]} >> (8 - literal_context));
            std::uint16_t* const literal = probs + literal_at + literal_models * context;
            std::uint32_t symbol = 1;
            if (state < literal_states) {
                symbol = rc.template tree<8>(literal) | 0x100;
            } else {
                // The byte at the last distance steers the first bits
                // while they agree with it.
                std::uint32_t match = back(base, offset, ring_size, rep0 + 1);
                std::uint32_t agree = 0x100;
                do {
                    match <<= 1;
                    const std::uint32_t match_bit = match & agree;
                    const std::uint32_t b = rc.bit(literal[agree + match_bit + symbol]);
                    symbol = symbol << 1 | b;
                    agree &= match_bit ^ (b - 1);
                } while (symbol < 0x100);
            }
            put(static_cast<std::uint8_t>(symbol));
            state = after_literal[state];
            continue;
        }

        // A match: nothing reaches before the first byte or beyond the
        // history. Earlier distances were checked when they were new.
        const std::uint32_t decoded = offset + lap;
        std::uint32_t short_length;
        if (!rc.decide(probs[is_rep_at + state])) {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            short_length = rc.length(probs + match_length_at, position_state);
            state = state < literal_states ? 7 : 10;
            rep0 = rc.distance(probs, short_length);
            if (rep0 == 0xFFFFFFFF) {
                save();
                return outcome::marker;
            }
            if (rep0 >= decoded || rep0 >= farthest) distance_fault(rep0, decoded);
        } else {
            if (decoded == 0) fail("match distance beyond the decoded data");
            if (!rc.decide(probs[is_rep0_at + state])) {
                if (!rc.decide(probs[is_rep0_long_at + state * position_states + position_state])) {
                    if constexpr (careful)
                        if (remaining == 0) fail("data longer than the declared size");
                    state = state < literal_states ? 9 : 11;
                    put(back(base, offset, ring_size, rep0 + 1));
                    continue;
                }
            } else {
                std::uint32_t distance;
                if (!rc.decide(probs[is_rep1_at + state])) {
                    distance = rep1;
                } else {
                    if (!rc.decide(probs[is_rep2_at + state])) {
                        distance = rep2;
                    } else {
                        distance = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = distance;
            }
            short_length = rc.length(probs + rep_length_at, position_state);
            state = state < literal_states ? 8 : 11;
        }

        const std::uint32_t match_length = short_length + min_match;
        if constexpr (careful) {
            if (match_length > remaining) fail("data longer than the declared size");
            for (std::uint32_t i = 0; i < match_length; ++i)
                put(back(base, static_cast<std::uint32_t>(out - base), ring_size, rep0 + 1));
        } else {
            if (rep0 < offset)
                out = copy_match(out, rep0 + 1, match_length);
            else
                out = copy_wrapped(out, rep0 + 1, match_length, ring);
        }
    } while (!careful && rc.in < in_fast_end && out < out_fast_end);

    save();
    return outcome::going;
}

}  // namespace algorithm::lzma
