// The LZMA range decoder, as the decoding loops hold it: the input pointer,
// the range and the code, and the bit, tree, length and distance decoding
// over the adaptive models. A loop keeps one in a local and copies it back
// when it ends; every member is inlined, so the compiler keeps all three in
// registers. `careful` checks each byte against `in_end` (the fast loop's
// margin makes that check needless there).
//
// Probabilities are 11-bit numbers, the chance of a 0, that move by 1/32
// of the distance to their bound after each bit; the range is kept at 2^24
// or more by shifting in one byte after a bit that takes it below.
#pragma once

#include <cstdint>

namespace algorithm::lzma {

namespace models {

constexpr unsigned probability_bits = 11;
constexpr std::uint32_t probability_one = std::uint32_t{1} << probability_bits;
constexpr std::uint16_t probability_half = probability_one / 2;
constexpr unsigned move_bits = 5;
constexpr std::uint32_t range_top = std::uint32_t{1} << 24;
// Moving by 1/32 rounded down keeps every probability in [31, 2017]; the
// branch-free update needs p - 2017 <= 0.
constexpr std::uint32_t probability_max = probability_one - ((1u << move_bits) - 1);
static_assert(probability_max == 2017 &&
                  probability_max + ((probability_one - probability_max) >> move_bits) == probability_max,
              "2017 is where a probability stops growing");

constexpr std::uint32_t states = 12;
constexpr std::uint32_t literal_states = 7;  // states 0 to 6 follow a literal
constexpr std::uint32_t position_states = 16;
constexpr std::uint32_t distance_slots = 64;
constexpr std::uint32_t length_states = 4;    // slots depend on min(length - 2, 3)
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

// Every model in one table, by the names of what they decide.
constexpr std::uint32_t is_match_at = 0;  // [state][position state]
constexpr std::uint32_t is_rep_at = is_match_at + states * position_states;
constexpr std::uint32_t is_rep0_at = is_rep_at + states;
constexpr std::uint32_t is_rep1_at = is_rep0_at + states;
constexpr std::uint32_t is_rep2_at = is_rep1_at + states;
constexpr std::uint32_t is_rep0_long_at = is_rep2_at + states;                 // [state][position state]
constexpr std::uint32_t slot_at = is_rep0_long_at + states * position_states;  // [length state][slot]
// Slots 4 to 13 have 1 to 5 low bits, each slot a reverse tree of its own
// that starts one model before its first: 114 models in all.
constexpr std::uint32_t special_at = slot_at + length_states * distance_slots;
constexpr std::uint32_t special_models = 128 - model_slot_end;
constexpr std::uint32_t align_at = special_at + special_models;
constexpr std::uint32_t match_length_at = align_at + (1u << align_bits);
constexpr std::uint32_t rep_length_at = match_length_at + length_models;
constexpr std::uint32_t literal_at = rep_length_at + length_models;
constexpr std::uint32_t literal_models = 0x300;  // 256 plain, 2 * 256 matched
static_assert(literal_at == 1846, "the fixed models, as the decompressor's header states them");
// The trees' early loads past their last model stay in the table: the
// last length state's slots reach into the special models, the repeat
// lengths' high tree into the literals (a literal tree's reach into its
// own matched models).
static_assert(slot_at + (length_states - 1) * distance_slots + 2 * distance_slots - 1 < align_at,
              "the slot trees' early loads stay in the table");
static_assert(rep_length_at + length_high + 2 * 256 - 1 < literal_at + literal_models,
              "the length trees' early loads stay in the table");
static_assert(2 * 256 - 1 < literal_models, "a literal tree's early loads stay in its coder");
// The largest index of slot 13's tree: base 96, 5 bits.
static_assert((3u << 5) - 13 - 1 + (1u << 5) - 1 < special_models, "the special trees fit their models");

}  // namespace models

template <bool careful>
struct range_decoder {
    const std::uint8_t* in;
    const std::uint8_t* in_end;
    std::uint32_t range;
    std::uint32_t code;

    [[gnu::always_inline]] void normalize() {
        if (range < models::range_top) {
            if constexpr (careful)
                if (in == in_end) truncated();
            range <<= 8;
            code = code << 8 | *in++;
        }
    }

    // A bit that steers the decoder, so it is branched on anyway.
    [[gnu::always_inline]] bool decide(std::uint16_t& p) {
        const std::uint32_t prob = p;
        const std::uint32_t bound = (range >> models::probability_bits) * prob;
        bool one;
        if (code < bound) {
            range = bound;
            p = static_cast<std::uint16_t>(prob + ((models::probability_one - prob) >> models::move_bits));
            one = false;
        } else {
            range -= bound;
            code -= bound;
            p = static_cast<std::uint16_t>(prob - (prob >> models::move_bits));
            one = true;
        }
        normalize();
        return one;
    }

    // A bit of a tree, hard to predict, taken without branches: `mask` is
    // all ones for a 1. The update p + (2048 - p) / 32 for a 0 is
    // p - floor((p - 2017) / 32), an arithmetic shift of p - 2017 <= 0.
    [[gnu::always_inline]] std::uint32_t bit(std::uint16_t& p) {
        const std::uint32_t prob = p;
        const std::uint32_t bound = (range >> models::probability_bits) * prob;
        const std::uint32_t mask = 0u - static_cast<std::uint32_t>(code >= bound);
        range = mask ? range - bound : bound;
        code -= bound & mask;
        const auto toward = static_cast<std::int32_t>(prob - (~mask & models::probability_max));
        p = static_cast<std::uint16_t>(prob - static_cast<std::uint32_t>(toward >> models::move_bits));
        normalize();
        return mask & 1;
    }

    // `bits` bits, most significant first, each model chosen by the bits
    // before it. Both models the next bit may use are loaded before this
    // bit is known, which takes the load off the chain from one bit to the
    // next. The last bit's loads read models 2^bits to 2^(bits+1) - 1,
    // which lie in the table for every tree: a literal's matched models,
    // the next length state's slots or the special models, the next
    // position state's lengths or the next coder (the literals after the
    // repeat lengths' high tree).
    template <unsigned bits>
    [[gnu::always_inline]] std::uint32_t tree(std::uint16_t* probs) {
        std::uint32_t symbol = 1;
        std::uint32_t prob = probs[1];
        do {
            const std::uint32_t if_zero = probs[symbol * 2];
            const std::uint32_t if_one = probs[symbol * 2 + 1];
            const std::uint32_t bound = (range >> models::probability_bits) * prob;
            const std::uint32_t mask = 0u - static_cast<std::uint32_t>(code >= bound);
            range = mask ? range - bound : bound;
            code -= bound & mask;
            const auto toward = static_cast<std::int32_t>(prob - (~mask & models::probability_max));
            probs[symbol] = static_cast<std::uint16_t>(prob - static_cast<std::uint32_t>(toward >> models::move_bits));
            normalize();
            symbol = symbol << 1 | (mask & 1);
            prob = mask ? if_one : if_zero;
        } while (symbol < (1u << bits));
        return symbol - (1u << bits);
    }

    // `bits` bits, least significant first.
    [[gnu::always_inline]] std::uint32_t reverse_tree(std::uint16_t* probs, unsigned bits) {
        std::uint32_t symbol = 1;
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bits; ++i) {
            const std::uint32_t b = bit(probs[symbol]);
            symbol = symbol << 1 | b;
            value |= b << i;
        }
        return value;
    }

    // Bits of even odds, most significant first: each halves the range,
    // and the sign of code - range tells it (restoring the code for a 0).
    [[gnu::always_inline]] std::uint32_t direct(unsigned count) {
        std::uint32_t value = 0;
        do {
            range >>= 1;
            code -= range;
            const std::uint32_t zero = 0u - (code >> 31);
            code += range & zero;
            value = (value << 1) + (zero + 1);
            normalize();
        } while (--count != 0);
        return value;
    }

    // A length minus `min_match`, from the length coder at `coder`.
    [[gnu::always_inline]] std::uint32_t length(std::uint16_t* coder, std::uint32_t position_state) {
        if (!decide(coder[models::length_choice])) return tree<3>(coder + models::length_low + position_state * 8);
        if (!decide(coder[models::length_choice2])) return 8 + tree<3>(coder + models::length_mid + position_state * 8);
        return 16 + tree<8>(coder + models::length_high);
    }

    // A new distance minus one, for a length minus `min_match`.
    [[gnu::always_inline]] std::uint32_t distance(std::uint16_t* probs, std::uint32_t short_length) {
        using namespace models;
        const std::uint32_t length_state = short_length < length_states ? short_length : length_states - 1;
        const std::uint32_t slot = tree<6>(probs + slot_at + length_state * distance_slots);
        if (slot < 4) return slot;
        const unsigned footer = (slot >> 1) - 1;
        const std::uint32_t value = (2 | (slot & 1)) << footer;
        if (slot < model_slot_end) return value + reverse_tree(probs + special_at + value - slot - 1, footer);
        const std::uint32_t high = direct(footer - align_bits) << align_bits;
        return value + high + reverse_tree(probs + align_at, align_bits);
    }

    // Out of line: the loops' code stays small.
    [[noreturn, gnu::noinline]] static void truncated();
};

}  // namespace algorithm::lzma
