#include "lzma/decompressor.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"

namespace algorithm::lzma {

namespace {

// The range coder: 11-bit probabilities that move by 1/32 of the distance
// to their bound, a range kept at 2^24 or more by shifting in one byte.
constexpr unsigned probability_bits = 11;
constexpr std::uint32_t probability_one = std::uint32_t{1} << probability_bits;
constexpr std::uint16_t probability_half = probability_one / 2;
constexpr unsigned move_bits = 5;
constexpr std::uint32_t range_top = std::uint32_t{1} << 24;
// Moving by 1/32 rounded down keeps every probability in [31, 2017]: the
// branch-free update below needs p - 2017 <= 0.
constexpr std::uint32_t probability_max = probability_one - ((1u << move_bits) - 1);
static_assert(probability_max == 2017 &&
                  probability_max + ((probability_one - probability_max) >> move_bits) == probability_max,
              "2017 is where a probability stops growing");

// The models, by the names of what they decide.
constexpr std::uint32_t states = 12;
constexpr std::uint32_t literal_states = 7;  // states 0 to 6 follow a literal
constexpr std::uint32_t position_states = 16;
constexpr std::uint32_t distance_slots = 64;
constexpr std::uint32_t length_states = 4;    // distance slots depend on min(length - 2, 3)
constexpr std::uint32_t model_slot_end = 14;  // slots 4 to 13 take their low bits from models
constexpr std::uint32_t align_bits = 4;
constexpr std::uint32_t min_match = 2;

// A length coder: two choices, 8 low and 8 middle lengths per position
// state, 256 high lengths.
constexpr std::uint32_t length_choice = 0;
constexpr std::uint32_t length_choice2 = 1;
constexpr std::uint32_t length_low = 2;
constexpr std::uint32_t length_mid = length_low + position_states * 8;
constexpr std::uint32_t length_high = length_mid + position_states * 8;
constexpr std::uint32_t length_models = length_high + 256;
constexpr std::uint32_t max_match = min_match + 8 + 8 + 255;
static_assert(max_match == 273, "the longest match");

constexpr std::uint32_t is_match_at = 0;  // [state][position state]
constexpr std::uint32_t is_rep_at = is_match_at + states * position_states;
constexpr std::uint32_t is_rep0_at = is_rep_at + states;
constexpr std::uint32_t is_rep1_at = is_rep0_at + states;
constexpr std::uint32_t is_rep2_at = is_rep1_at + states;
constexpr std::uint32_t is_rep0_long_at = is_rep2_at + states;                 // [state][position state]
constexpr std::uint32_t slot_at = is_rep0_long_at + states * position_states;  // [length state][slot]
// Slots 4 to 13 have 1 to 5 low bits, each slot its own reverse tree: 114
// models in all, a tree of n bits starting one model before its first.
constexpr std::uint32_t special_at = slot_at + length_states * distance_slots;
constexpr std::uint32_t special_models = 128 - model_slot_end;
constexpr std::uint32_t align_at = special_at + special_models;
constexpr std::uint32_t match_length_at = align_at + (1u << align_bits);
constexpr std::uint32_t rep_length_at = match_length_at + length_models;
constexpr std::uint32_t literal_at = rep_length_at + length_models;
constexpr std::uint32_t literal_models = 0x300;  // 256 plain, 2 * 256 matched
static_assert(literal_at == 1846, "the fixed models, as the header states them");
// The largest tree index of slot 13: base 96, 5 bits.
static_assert((3u << 5) - 13 - 1 + (1u << 5) - 1 < special_models, "the special trees fit their models");

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
constexpr std::uint32_t copy_overrun = 31;
constexpr std::uint32_t fast_output_margin = max_match + copy_overrun;
static_assert(copy_overrun < dictionary::slack, "bytes stored past a match lie beyond every match's reach");

void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }
void copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }

// The fast loop's match copy from `distance` bytes back, where all of them
// lie in the ring before `out`: 32 bytes a step, by 16 where source and
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
            copy16(out + 16, from + 16);
            out += 32;
            from += 32;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            copy8(out, from);
            copy8(out + 8, from + 8);
            copy8(out + 16, from + 16);
            copy8(out + 24, from + 24);
            out += 32;
            from += 32;
        } while (out < end);
    } else if (distance == 1) {
        std::uint8_t run[16];
        std::memset(run, *from, sizeof run);
        do {
            std::memcpy(out, run, 16);
            std::memcpy(out + 16, run, 16);
            out += 32;
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
static_assert(copy_overrun >= 31, "32-byte steps store up to 31 bytes past the match");

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

template <bool careful>
decompressor::outcome decompressor::run(cursor& at, const std::uint8_t* const out_fast_end) {
    // The hot state lives in locals for the length of the loop.
    const std::uint8_t* in = at.in;
    const std::uint8_t* const in_end = at.in_end;
    const std::uint8_t* const in_fast_end = careful ? in_end : in_end - fast_input_margin;
    std::uint8_t* out = at.out;
    std::uint32_t range = at.range;
    std::uint32_t code = at.code;
    std::uint32_t state = at.state;
    std::uint32_t rep0 = at.reps[0], rep1 = at.reps[1], rep2 = at.reps[2], rep3 = at.reps[3];
    std::uint16_t* const probs = probabilities.get();
    std::uint8_t* const base = ring.begin();
    std::uint8_t* const ring_end = ring.end();
    const std::uint32_t ring_size = ring.size();
    // Members copied too: every byte stored through `out` may alias them.
    const std::uint32_t farthest = history;
    const std::uint32_t position_mask = pb_mask;
    const std::uint32_t literal_position_mask = lp_mask;
    const std::uint32_t literal_context = lc;
    // Bytes of output before `base`'s lap that a match may still reach:
    // all the ring once it has wrapped. The careful step may wrap, but only
    // after its checks.
    const std::uint32_t lap = ring.wrapped() ? ring_size : 0;
    const std::uint32_t context_shift = 8 - literal_context;
    // Only the careful step looks at the declared size: the fast loop keeps
    // `max_match` bytes away from it.
    const stream::size_type remaining = careful ? uncompressed_size - ring.position(out) : 0;

    auto save = [&] {
        at.in = in;
        at.out = out;
        at.range = range;
        at.code = code;
        at.state = state;
        at.reps[0] = rep0;
        at.reps[1] = rep1;
        at.reps[2] = rep2;
        at.reps[3] = rep3;
    };
    auto normalize = [&] {
        if (range < range_top) {
            if constexpr (careful)
                if (in == in_end) fail("unexpected end of compressed data");
            range <<= 8;
            code = code << 8 | *in++;
        }
    };
    // A bit that steers the decoder, so it is branched on anyway.
    auto decide = [&](std::uint16_t& p) {
        const std::uint32_t prob = p;
        const std::uint32_t bound = (range >> probability_bits) * prob;
        bool one;
        if (code < bound) {
            range = bound;
            p = static_cast<std::uint16_t>(prob + ((probability_one - prob) >> move_bits));
            one = false;
        } else {
            range -= bound;
            code -= bound;
            p = static_cast<std::uint16_t>(prob - (prob >> move_bits));
            one = true;
        }
        normalize();
        return one;
    };
    // A bit of a tree, hard to predict, taken without branches: `mask` is
    // all ones for a 1. The update p + (2048 - p) / 32 for a 0 is
    // p - floor((p - 2017) / 32), as an arithmetic shift of p - 2017 <= 0.
    auto tree_bit = [&](std::uint16_t& p) {
        const std::uint32_t prob = p;
        const std::uint32_t bound = (range >> probability_bits) * prob;
        const std::uint32_t mask = 0u - static_cast<std::uint32_t>(code >= bound);
        range = mask ? range - bound : bound;
        code -= bound & mask;
        p = static_cast<std::uint16_t>(
            prob -
            static_cast<std::uint32_t>(static_cast<std::int32_t>(prob - (~mask & probability_max)) >> move_bits));
        normalize();
        return mask & 1;
    };
    auto tree = [&](std::uint16_t* models, unsigned bits) {
        std::uint32_t symbol = 1;
        for (unsigned i = 0; i < bits; ++i) symbol = symbol << 1 | tree_bit(models[symbol]);
        return symbol - (1u << bits);
    };
    auto reverse_tree = [&](std::uint16_t* models, unsigned bits) {
        std::uint32_t symbol = 1;
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bits; ++i) {
            const std::uint32_t bit = tree_bit(models[symbol]);
            symbol = symbol << 1 | bit;
            value |= bit << i;
        }
        return value;
    };
    // A length minus `min_match`.
    auto length = [&](std::uint16_t* coder, std::uint32_t position_state) {
        if (!decide(coder[length_choice])) return tree(coder + length_low + position_state * 8, 3);
        if (!decide(coder[length_choice2])) return 8 + tree(coder + length_mid + position_state * 8, 3);
        return 16 + tree(coder + length_high, 8);
    };
    // A new distance minus one, from a length minus `min_match`.
    auto distance = [&](std::uint32_t short_length) {
        const std::uint32_t slot =
            tree(probs + slot_at + std::min(short_length, length_states - 1) * distance_slots, 6);
        if (slot < 4) return slot;
        const unsigned footer = (slot >> 1) - 1;
        std::uint32_t value = (2 | (slot & 1)) << footer;
        if (slot < model_slot_end) return value + reverse_tree(probs + special_at + value - slot - 1, footer);
        // Direct bits, each half the range: the sign of code - range/2
        // tells the bit, and restores the code where it is 0.
        std::uint32_t direct = 0;
        for (unsigned n = footer - align_bits; n > 0; --n) {
            range >>= 1;
            code -= range;
            const std::uint32_t zero = 0u - (code >> 31);
            code += range & zero;
            direct = (direct << 1) + (zero + 1);
            normalize();
        }
        return value + (direct << align_bits) + reverse_tree(probs + align_at, align_bits);
    };
    // The byte `distance` back, wrapping round the ring; the distance is
    // checked.
    auto back = [&](std::uint32_t distance) {
        const auto offset = static_cast<std::uint32_t>(out - base);
        return base[offset >= distance ? offset - distance : offset + ring_size - distance];
    };
    auto put = [&](std::uint8_t byte) {
        *out++ = byte;
        if constexpr (careful)
            if (out == ring_end) out = ring.wrap();
    };

    do {
        const auto offset = static_cast<std::uint32_t>(out - base);
        const std::uint32_t position_state = offset & position_mask;
        if (!decide(probs[is_match_at + state * position_states + position_state])) {
            if constexpr (careful)
                if (remaining == 0) fail("data longer than the declared size");
            std::uint16_t* const literal = probs + literal_at +
                                           literal_models * (((offset & literal_position_mask) << literal_context) +
                                                             (std::uint32_t{out[-1]} >> context_shift));
            std::uint32_t symbol = 1;
            if (state < literal_states) {
                do symbol = symbol << 1 | tree_bit(literal[symbol]);
                while (symbol < 0x100);
            } else {
                // The byte at the last distance steers the first bits
                // while they agree with it.
                std::uint32_t match = back(rep0 + 1);
                std::uint32_t agree = 0x100;
                do {
                    match <<= 1;
                    const std::uint32_t match_bit = match & agree;
                    const std::uint32_t bit = tree_bit(literal[agree + match_bit + symbol]);
                    symbol = symbol << 1 | bit;
                    agree &= match_bit ^ (bit - 1);
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
        if (!decide(probs[is_rep_at + state])) {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            short_length = length(probs + match_length_at, position_state);
            state = state < literal_states ? 7 : 10;
            rep0 = distance(short_length);
            if (rep0 == 0xFFFFFFFF) {
                save();
                return outcome::marker;
            }
            if (rep0 >= decoded || rep0 >= farthest) distance_fault(rep0, decoded);
        } else {
            if (decoded == 0) fail("match distance beyond the decoded data");
            if (!decide(probs[is_rep0_at + state])) {
                if (!decide(probs[is_rep0_long_at + state * position_states + position_state])) {
                    if constexpr (careful)
                        if (remaining == 0) fail("data longer than the declared size");
                    state = state < literal_states ? 9 : 11;
                    put(back(rep0 + 1));
                    continue;
                }
            } else {
                std::uint32_t distance;
                if (!decide(probs[is_rep1_at + state])) {
                    distance = rep1;
                } else {
                    if (!decide(probs[is_rep2_at + state])) {
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
            short_length = length(probs + rep_length_at, position_state);
            state = state < literal_states ? 8 : 11;
        }

        const std::uint32_t match_length = short_length + min_match;
        if constexpr (careful) {
            if (match_length > remaining) fail("data longer than the declared size");
            for (std::uint32_t i = 0; i < match_length; ++i) put(back(rep0 + 1));
        } else {
            if (rep0 < offset)
                out = copy_match(out, rep0 + 1, match_length);
            else
                out = copy_wrapped(out, rep0 + 1, match_length, ring);
        }
    } while (!careful && in < in_fast_end && out < out_fast_end);

    save();
    return outcome::going;
}

}  // namespace algorithm::lzma
