#include "flate/decompressor.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "errors/exception.h"

namespace algorithm::flate {

namespace {

// The word loads and stores of the decoding loops take bytes in memory
// order as the low end of the word.
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the inflate loops assume a little-endian machine"
#endif

std::uint64_t load64(const void* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void store64(void* p, std::uint64_t word) { std::memcpy(p, &word, sizeof word); }

// The order in which a dynamic header gives the code-length code lengths.
constexpr std::uint8_t length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr int max_literal_codes = 288;
// A dynamic header takes at most 14 + 19 * 3 bits and then 7 bits of code
// for each of at most 340 lengths (a repeat covers at least 3 lengths with
// at most 7 + 7 bits).
constexpr std::uint32_t header_bytes = 512;
static_assert((14 + 19 * 3 + 340 * 7 + 7) / 8 + 8 <= header_bytes, "a whole header fits");
constexpr int max_distance_codes = 50;
// Both tables of a dynamic header live in one array.
constexpr int max_header_lengths = 340;
static_assert(max_literal_codes + max_distance_codes <= max_header_lengths, "a valid header fits the array");

constexpr unsigned max_code = huffman_decoder::max_length;

// Bits: both loops top the bit buffer up to at least `refilled_bits`. The
// careful step refills before a literal/length code and again before a
// distance code: one refill covers a code and its extra bits, also the 16
// more bits after the long length of the 64 KiB variant.
constexpr unsigned refilled_bits = 56;
static_assert(max_code + max_length_extra + 16 <= refilled_bits && max_code + max_distance_extra <= refilled_bits,
              "one refill covers a code and its extra bits");
// The fast loop works in rounds that start with at least `refilled_bits`
// held and the first entry looked up. A round takes up to
// `fast_literal_entries` main-table literal entries (at most `root_bits`
// each, one or two literals), looking the next entry up after each (a
// lookup, through a subtable, reads up to 15 bits), and ends with a refill
// after the third. Otherwise it takes one more code, a literal through a
// subtable or a length with its extra bits, and for a length looks the
// distance's main entry up before refilling, takes the distance, looks the
// next round's first entry up, refills, and copies the match.
constexpr unsigned fast_literal_entries = 3;
static_assert(refilled_bits - fast_literal_entries * literal_table::root_bits >= max_code,
              "the entry after the last literal entry is looked up from held bits");
static_assert(refilled_bits - (fast_literal_entries - 1) * literal_table::root_bits >= max_code,
              "a subtable is looked up from held bits");
static_assert(refilled_bits - (fast_literal_entries - 1) * literal_table::root_bits - max_code >= max_code,
              "after a literal through a subtable, the next entry is looked up from held bits");
static_assert(refilled_bits - (fast_literal_entries - 1) * literal_table::root_bits - (max_code + max_length_extra) >=
                  distance_table::root_bits,
              "a distance's main entry is looked up before the refill");
static_assert(refilled_bits - (max_code + max_distance_extra) >= max_code,
              "the next entry is looked up before the match copy without a refill");

// Input: a word refill is an 8-byte load that advances the input by at
// most 7 bytes. The fast loop refills at most twice per round, so it runs
// while the block buffer holds at least this many bytes: its loads never
// pass the end, and every bit it takes is a byte of the source.
constexpr std::ptrdiff_t fast_input_margin = 16;
static_assert(7 + 8 <= fast_input_margin, "two refills stay inside the margin");

// Output: the fast loop never slides the window, and every symbol it
// decodes starts below the slide threshold, so the window slides at the
// same symbol boundaries as if the careful step did all the work (pull mode
// stops at the same places too). A round stores a literal entry as two
// bytes, advances by at most `fast_literal_bytes` before its last symbol,
// and copies a match of up to 258 bytes whose stores run up to
// `fast_copy_overrun` bytes past its end. It runs while `out` lies at least
// `fast_output_margin` bytes below the threshold; above the threshold the
// window keeps `max_match` + `copy_slack` bytes.
constexpr std::uint32_t fast_literal_bytes = 2 * (fast_literal_entries - 1);
constexpr std::uint32_t fast_copy_overrun = 31;
constexpr std::uint32_t fast_output_margin = 8;
static_assert(fast_literal_bytes + 1 < fast_output_margin, "every symbol of a round starts below the threshold");
static_assert(fast_literal_bytes + window::max_match + fast_copy_overrun <=
                  fast_output_margin + window::max_match + window::copy_slack,
              "a round's stores stay inside the window's buffer");

// `bit_input` holds between 25 and 32 bits after each of its byte-wise
// refills. At the end of a block the loops leave it in exactly the state it
// would have reached reading every byte itself, so that the bytes left in
// the source after `finish` do not depend on how the data was decoded.
constexpr unsigned held_after_refill = 25;

void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }

// The careful step's match copy. Copies by words where source and
// destination are 8 or more bytes apart; the stores may run up to 15 bytes
// past the match, into bytes that later output overwrites (the window
// keeps slack for them).
std::uint8_t* copy_match(std::uint8_t* out, std::uint32_t distance, std::uint32_t length) {
    std::uint8_t* const end = out + length;
    const std::uint8_t* from = out - distance;
    if (distance >= 16) {
        do {
            store64(out, load64(from));
            store64(out + 8, load64(from + 8));
            out += 16;
            from += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            store64(out, load64(from));
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        const std::uint64_t run = 0x0101010101010101u * *from;
        do {
            store64(out, run);
            out += 8;
        } while (out < end);
    } else {
        // A period of 2 to 7 bytes: once the match holds `step` - d
        // bytes, the pattern also repeats at `step`, a multiple of the
        // period of at least 8, from where words can be copied.
        const std::uint32_t step = distance * ((8 + distance - 1) / distance);
        std::uint8_t* const bytewise = out + (step - distance);
        do *out++ = *from++;
        while (out < end && out < bytewise);
        from = out - step;
        while (out < end) {
            store64(out, load64(from));
            out += 8;
            from += 8;
        }
    }
    return end;
}
static_assert(window::copy_slack >= 15, "word copies overrun a match by up to 15 bytes");

// The fast loop's match copy, 32 bytes a step, so that most matches take
// one: by 16 bytes where source and destination are 16 or more bytes apart,
// by words from 8 bytes, and a run of one byte as 16-byte stores. The
// stores may run up to 31 bytes past the match. Periods of 2 to 7 bytes,
// rare, go to the careful step's copy.
// Inlined into both fast loops, where it overlaps the next lookup.
[[gnu::always_inline]] inline std::uint8_t* copy_match_fast(std::uint8_t* out, std::uint32_t distance,
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
            store64(out, load64(from));
            store64(out + 8, load64(from + 8));
            store64(out + 16, load64(from + 16));
            store64(out + 24, load64(from + 24));
            out += 32;
            from += 32;
        } while (out < end);
    } else if (distance == 1) {
        const std::uint64_t word = 0x0101010101010101u * *from;
        const std::uint64_t run[2] = {word, word};
        do {
            std::memcpy(out, run, 16);
            std::memcpy(out + 16, run, 16);
            out += 32;
        } while (out < end);
    } else {
        return copy_match(out, distance, length);
    }
    return end;
}
static_assert(fast_copy_overrun >= 31 && fast_copy_overrun >= 15, "what the fast copies overrun a match by");

}  // namespace

struct decompressor::cursor {
    const std::uint8_t* in;
    const std::uint8_t* in_end;
    std::uint64_t bitbuf;  // bits in stream order; above `bitcount` maybe bits of *in
    unsigned bitcount;
    int missing;  // bytes past the end of the source at the top of `bitbuf`
    std::uint8_t* out;
};

decompressor::decompressor(stream::input& source, int extent, bool give_back_bits)
    : decompressor(source, extent, give_back_bits, active()) {}

decompressor::decompressor(stream::input& source, int extent, bool give_back_bits, fast_loops loops)
    : generator_input(&source),
      explicit_extent(extent != 0),
      give_back_bits(give_back_bits),
      window_size(window_size_for(extent != 0 ? extent : source.get())),
      long_lengths(explicit_extent && window_size == 65536),
      loops(loops),
      block_input(source, block_size),
      bits(&block_input),
      window(window_size, sink()) {}

std::uint32_t decompressor::window_size_for(int extent) {
    if (extent < 10 || extent > 25) fail("bad compression extent");
    return std::uint32_t{1} << extent;
}

void decompressor::fail(const char* message) { throw algorithm::exception(message, "algorithm::flate::decompressor"); }

void decompressor::check_input() const {
    if (bits.past_end()) fail("unexpected end of compressed data");
}

std::uint32_t decompressor::take(int n) {
    std::uint32_t value = bits.get_bits(n);
    check_input();
    return value;
}

stream::size_type decompressor::copy_to(stream::output& target) {
    stream::size_type start = target.position();
    bits.set_source(&block_input);
    window.set_target(target);
    window.reset();
    while (!finished) finished = !decode_block(stream::everything);
    if (give_back_bits) bits.give_back();
    block_input.give_back();
    window.flush();
    target.flush();
    return target.position() - start;
}

void decompressor::finish() {
    if (give_back_bits) bits.give_back();
    block_input.give_back();
}

stream::size_type decompressor::produce(stream::size_type minimum) {
    window.set_target(sink());
    if (finished) return 0;
    stream::size_type start = window.position();
    stream::size_type stop_at = minimum < stream::everything - start ? start + minimum : stream::everything;
    while (!finished && window.position() - start < minimum) finished = !decode_block(stop_at);
    window.flush();
    return window.position() - start;
}

bool decompressor::decode_block(stream::size_type stop_at) {
    if (!in_block) {
        last_block = bits.get_bit() != 0;
        check_input();
        switch (take(2)) {
            case 0:
                read_stored_block();
                return !last_block;
            case 1:
                read_fixed_codes();
                break;
            case 2:
                read_dynamic_codes();
                break;
            default:
                fail("bad block type");
        }
        in_block = true;
    }
    if (decode_data(stop_at) == outcome::stopped) return true;
    in_block = false;
    return !last_block;
}

void decompressor::read_stored_block() {
    bits.align();
    check_input();
    std::uint32_t length = take(16);
    std::uint32_t complement = take(16);
    if (length != (~complement & 0xFFFF)) fail("compressed data size mismatch");
    if (length == 0) return;

    // All but the last byte: first the whole bytes the bit reader holds,
    // then straight from the block buffer.
    std::uint32_t rest = length - 1;
    bit_input::state held = bits.save();
    for (; rest > 0 && held.bit_count > 0; --rest) {
        if (held.bit_count <= 8 * held.missing_bytes) fail("unexpected end of compressed data");
        window.append(static_cast<int>(held.low_bits & 0xFF));
        held.low_bits >>= 8;
        held.bit_count -= 8;
    }
    bits.restore(held);
    while (rest > 0) {
        if (block_input.available() == 0 && block_input.refill() == 0) fail("unexpected end of compressed data");
        std::uint32_t n = std::min(rest, block_input.available());
        window.append(block_input.data(), n);
        block_input.advance(n);
        rest -= n;
    }
    // The last byte through the bit reader, which leaves it holding what it
    // would hold had it read every byte itself.
    window.append(static_cast<int>(take(8)));
}

void decompressor::read_fixed_codes() {
    literal_count = max_literal_codes;
    distance_count = 32;
    if (fixed_ready) return;  // the same code as last time
    std::fill(literal_lengths.begin(), literal_lengths.begin() + 144, 8);
    std::fill(literal_lengths.begin() + 144, literal_lengths.begin() + 256, 9);
    std::fill(literal_lengths.begin() + 256, literal_lengths.begin() + 280, 7);
    std::fill(literal_lengths.begin() + 280, literal_lengths.end(), 8);
    std::fill(distance_lengths.begin(), distance_lengths.begin() + 32, 5);
    std::fill(distance_lengths.begin() + 32, distance_lengths.end(), 0);
    literals.build(literal_lengths.data(), long_lengths);
    distances.build(distance_lengths.data());
    fixed_ready = true;
}

void decompressor::read_dynamic_codes() {
    fixed_ready = false;
    // The header is read from the block buffer with a bit buffer of its
    // own, a byte at a time, and fails exactly where `bit_input` would: a
    // field or code fails when a bit it takes lies past the end of the
    // source. With `header_bytes` in the buffer, only the end of the source
    // stops it.
    cursor at = take_over_bits();
    while (block_input.available() < header_bytes && !source_ended) {
        if (block_input.refill() == 0) source_ended = true;
        at.in = block_input.data();
        at.in_end = block_input.data() + block_input.available();
    }
    auto pull_byte = [&at] {
        std::uint64_t byte = 0;
        if (at.missing == 0 && at.in < at.in_end)
            byte = *at.in++;
        else
            ++at.missing;
        at.bitbuf |= byte << at.bitcount;
        at.bitcount += 8;
    };
    auto check_end = [&at](unsigned needed) {
        if (at.bitcount < needed + 8 * static_cast<unsigned>(at.missing)) fail("unexpected end of compressed data");
    };
    auto take = [&](unsigned n) {
        while (at.bitcount < n) pull_byte();
        const auto value = static_cast<std::uint32_t>(at.bitbuf & ((std::uint64_t{1} << n) - 1));
        at.bitbuf >>= n;
        at.bitcount -= n;
        check_end(0);
        return value;
    };
    // A pattern outside the code is the end's fault if its 15 bits reach
    // past the end.
    auto decode = [&](const code_length_table& table) {
        while (at.bitcount < max_code) pull_byte();
        const std::uint32_t entry = table.entry(at.bitbuf);
        if (entry == 0) {
            check_end(max_code);
            huffman_decoder::reject_codeword();
        }
        at.bitbuf >>= entry & 15;
        at.bitcount -= entry & 15;
        check_end(0);
        return static_cast<int>(entry >> 8);
    };

    literal_count = static_cast<int>(take(5)) + 257;
    distance_count = static_cast<int>(take(explicit_extent ? 5 : 6)) + 1;
    // The 6-bit count of the larger windows can announce 64 distance codes.
    if (distance_count > max_distance_codes || literal_count + distance_count > max_header_lengths)
        fail("too many length or distance codes");

    length_count = static_cast<int>(take(4)) + 4;
    length_lengths.fill(0);
    for (int i = 0; i < length_count; ++i) length_lengths[length_order[i]] = static_cast<std::uint8_t>(take(3));
    huffman_decoder::check(length_lengths.data(), 19);
    length_codes.build(length_lengths.data());

    std::array<std::uint8_t, max_header_lengths> lengths{};
    const int total = literal_count + distance_count;
    for (int i = 0; i < total;) {
        int symbol = decode(length_codes);
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        int repeat;
        if (symbol == 16) {
            if (i == 0) fail("invalid code length repeat");
            value = lengths[i - 1];
            repeat = static_cast<int>(take(2)) + 3;
        } else if (symbol == 17) {
            repeat = static_cast<int>(take(3)) + 3;
        } else {
            repeat = static_cast<int>(take(7)) + 11;
        }
        // A run past the end of the table stops at the end.
        repeat = std::min(repeat, total - i);
        std::fill(lengths.begin() + i, lengths.begin() + i + repeat, value);
        i += repeat;
    }
    hand_back_bits(at);

    literal_lengths.fill(0);
    std::copy(lengths.begin(), lengths.begin() + literal_count, literal_lengths.begin());
    distance_lengths.fill(0);
    std::copy(lengths.begin() + literal_count, lengths.begin() + total, distance_lengths.begin());
    huffman_decoder::check(literal_lengths.data(), max_literal_codes);
    literals.build(literal_lengths.data(), long_lengths);
    // Every distance length 0 means the block has no matches at all
    // (RFC 1951, 3.2.7); encoders write that for blocks of literals only.
    const bool no_distances =
        std::all_of(distance_lengths.begin(), distance_lengths.end(), [](std::uint8_t length) { return length == 0; });
    if (!no_distances) huffman_decoder::check(distance_lengths.data(), max_distance_codes);
    distances.build(distance_lengths.data());
}

decompressor::cursor decompressor::take_over_bits() {
    // The whole bytes the bit reader holds go back to the block buffer
    // first, so that every whole byte in the cursor's bit buffer lies just
    // before its input pointer and can be stepped back over.
    bit_input::state held = bits.save();
    const int partial = held.bit_count % 8;
    for (int k = held.bit_count / 8; k > 0; --k) {
        if (held.missing_bytes > 0)
            --held.missing_bytes;  // never read: nothing to return
        else
            block_input.unget(static_cast<int>((held.low_bits >> (partial + 8 * (k - 1))) & 0xFF));
    }
    return {block_input.data(),
            block_input.data() + block_input.available(),
            held.low_bits & ((1u << partial) - 1),
            static_cast<unsigned>(partial),
            0,
            window.data() + window.used};
}

void decompressor::hand_back_bits(cursor& at) {
    // The bit reader holds at most 32 bits.
    while (at.bitcount > 32) {
        if (at.missing > 0)
            --at.missing;
        else
            --at.in;
        at.bitcount -= 8;
    }
    block_input.advance(static_cast<std::uint32_t>(at.in - block_input.data()));
    bits.restore({static_cast<std::uint32_t>(at.bitbuf), static_cast<int>(at.bitcount), at.missing});
}

decompressor::outcome decompressor::decode_data(stream::size_type stop_at) {
    // The loops read the block buffer directly.
    cursor at = take_over_bits();
    outcome result;
    for (;;) {
        // Word refills while the block buffer holds enough input for them.
        result = run<false>(at, stop_at);
        if (result != outcome::input_low) break;
        if (source_ended) {
            // The last bytes of the source, byte by byte.
            result = run<true>(at, stop_at);
            break;
        }
        // Top the block up, keeping the whole bytes of the bit buffer in it.
        const unsigned kept = at.bitcount / 8;
        block_input.advance(static_cast<std::uint32_t>(at.in - block_input.data()) - kept);
        if (block_input.refill() == 0) source_ended = true;
        at.in = block_input.data() + kept;
        at.in_end = block_input.data() + block_input.available();
    }
    window.used = static_cast<std::uint32_t>(at.out - window.data());
    hand_back_bits(at);
    return result;
}

template <bool careful>
decompressor::outcome decompressor::run(cursor& at, stream::size_type stop_at) {
    // The hot state lives in locals for the length of the loop.
    const std::uint8_t* in = at.in;
    const std::uint8_t* const in_end = at.in_end;
    std::uint64_t bitbuf = at.bitbuf;
    unsigned bitcount = at.bitcount;
    int missing = at.missing;
    std::uint8_t* out = at.out;
    std::uint8_t* const base = window.data();
    std::uint8_t* const threshold = window.threshold_pointer();
    std::uint8_t* const fast_output_end = threshold - fast_output_margin;
    const std::uint32_t history = window_size;
    const literal_table& literal_entries = literals;
    const distance_table& distance_entries = distances;

    auto save = [&] {
        at.in = in;
        at.bitbuf = bitbuf;
        at.bitcount = bitcount;
        at.missing = missing;
        at.out = out;
    };
    // One byte into the bit buffer: from the input while it lasts, then
    // zeros counted as missing.
    auto pull_byte = [&] {
        std::uint64_t byte = 0;
        if (missing == 0 && in < in_end)
            byte = *in++;
        else
            ++missing;
        bitbuf |= byte << bitcount;
        bitcount += 8;
    };
    // A word at a time: the bits above `bitcount` already hold the low bits
    // of *in, which the load puts there again.
    auto refill_word = [&] {
        bitbuf |= load64(in) << bitcount;
        in += (63 - bitcount) >> 3;
        bitcount |= refilled_bits;
    };
    auto refill = [&] {
        if constexpr (careful) {
            while (bitcount < refilled_bits) pull_byte();
        } else {
            refill_word();
        }
    };
    auto consume = [&](unsigned n) {
        bitbuf >>= n;
        bitcount -= n;
    };
    auto take = [&](unsigned n) {
        auto value = static_cast<std::uint32_t>(bitbuf & ((std::uint64_t{1} << n) - 1));
        consume(n);
        return value;
    };
    // Only bits actually used may lie past the end of the source.
    auto check_end = [&](unsigned needed) {
        if constexpr (careful)
            if (bitcount < needed + 8 * static_cast<unsigned>(missing)) fail("unexpected end of compressed data");
    };
    // Nothing before the first byte, nothing beyond the window.
    auto check_distance = [&](std::uint32_t distance) {
        if (distance > static_cast<std::uint32_t>(out - base) || distance > history) fail("invalid distance");
    };
    auto fast_margins = [&] { return in_end - in >= fast_input_margin && out < fast_output_end; };
    // Out of line, so takes and returns the output pointer: the loop's
    // hot state stays in registers.
    auto slide = [this, base](std::uint8_t* at) {
        window.used = static_cast<std::uint32_t>(at - base);
        window.slide();
        return base + window.used;
    };

    for (;;) {
        if constexpr (!careful) {
            if (fast_margins()) {
                save();
                run_fast(at);
                in = at.in;
                bitbuf = at.bitbuf;
                bitcount = at.bitcount;
                out = at.out;
            }
            if (in_end - in < fast_input_margin) {
                save();
                return outcome::input_low;
            }
        }
        // The careful step, one symbol. The next byte will go at `out`:
        // slide first if the buffer is full.
        if (out >= threshold) {
            out = slide(out);
            if (stop_at != stream::everything && window.position() >= stop_at) {
                save();
                return outcome::stopped;
            }
        }
        refill();
        std::uint32_t entry = literal_entries.lookup(bitbuf);
        if (entry & literal_table::no_code) {
            check_end(max_code);
            huffman_decoder::reject_codeword();
        }
        if (entry & literal_table::literals) {
            // Only the first literal of an entry that holds two.
            consume(literal_table::first_length_of(entry));
            check_end(0);
            *out++ = static_cast<std::uint8_t>(entry >> 16);
            continue;
        }
        if (entry & literal_table::end_of_block) {
            // Leave exactly the bits the byte-wise reader would hold: it
            // topped up to 25 to 32 bits just before this code.
            const unsigned code_length = literal_table::bits_of(entry);
            const unsigned wanted = held_after_refill + ((bitcount + 7) & 7) - code_length;
            consume(code_length);
            check_end(0);
            while (bitcount > wanted) {
                if (missing > 0)
                    --missing;
                else
                    --in;
                bitcount -= 8;
            }
            bitbuf &= (std::uint64_t{1} << bitcount) - 1;
            while (bitcount < wanted) pull_byte();
            save();
            return outcome::block_end;
        }

        std::uint64_t looked_up = bitbuf;
        consume(literal_table::bits_of(entry));
        check_end(0);
        std::uint32_t length = literal_table::length_of(entry, looked_up);
        if (long_lengths && length == 258) length = take(16) + 3;
        check_end(0);
        refill();
        std::uint64_t code = distance_entries.lookup(bitbuf);
        if (code & distance_table::exceptional) {
            check_end(max_code);
            huffman_decoder::reject_codeword();
        }
        looked_up = bitbuf;
        consume(distance_table::bits_of(code));
        const std::uint32_t distance = distance_table::distance_of(code, looked_up);
        check_end(0);
        check_distance(distance);
        // Only the 64 KiB variant has longer matches; they go in pieces,
        // each after the check that keeps the buffer from overflowing.
        while (length > window::max_match) {
            out = copy_match(out, distance, window::max_match);
            length -= window::max_match;
            if (out >= threshold) out = slide(out);
        }
        out = copy_match(out, distance, length);
    }
}

void decompressor::run_fast(cursor& at) {
    const bool pairs = literals.has_pairs();
#if defined(__x86_64__)
    if (loops == fast_loops::bmi2) {
        if (pairs)
            fast_bmi2<true>(at);
        else
            fast_bmi2<false>(at);
        return;
    }
#endif
    if (pairs)
        fast_portable<true>(at);
    else
        fast_portable<false>(at);
}

template <bool pairs>
void decompressor::fast_portable(cursor& at) {
    fast_rounds<pairs>(at);
}

#if defined(__x86_64__)
template <bool pairs>
void decompressor::fast_bmi2(cursor& at) {
    fast_rounds<pairs>(at);
}
#endif

template <bool pairs>
[[gnu::always_inline]] inline void decompressor::fast_rounds(cursor& at) {
    // The hot state lives in locals for the length of the loop.
    const std::uint8_t* in = at.in;
    const std::uint8_t* const in_fast_end = at.in_end - fast_input_margin;
    std::uint64_t bitbuf = at.bitbuf;
    unsigned bitcount = at.bitcount;
    std::uint8_t* out = at.out;
    std::uint8_t* const base = window.data();
    std::uint8_t* const out_fast_end = window.threshold_pointer() - fast_output_margin;
    const std::uint32_t history = window_size;
    const literal_table& literal_entries = literals;
    const distance_table& distance_entries = distances;

    // Only the low byte of `bitcount` counts here: an entry is consumed by
    // subtracting it whole, its other fields borrowing nothing below bit 8
    // (bits 6 and 7 are clear in every entry consumed for good).
    auto refill = [&] {
        bitbuf |= load64(in) << (bitcount & 63);
        in += 7 - ((bitcount >> 3) & 7);
        bitcount |= refilled_bits;
    };
    auto consume = [&](std::uint32_t entry) {
        bitbuf >>= entry & 63;
        bitcount -= entry;
    };

    // A literal entry: with pairs, stored as two bytes whether it holds one
    // or two.
    auto put = [&out](std::uint32_t literals, std::uint32_t count) {
        if constexpr (pairs) {
            const auto two = static_cast<std::uint16_t>(literals);
            std::memcpy(out, &two, 2);
            out += count;
        } else {
            *out++ = static_cast<std::uint8_t>(literals);
        }
    };

    refill();
    std::uint32_t entry = literal_entries.main_entry(bitbuf);
    do {
        // Each entry is consumed before it is looked at; an entry the loop
        // leaves to the careful step is given back.
        std::uint64_t saved = bitbuf;
        consume(entry);
        if (entry & literal_table::literals) {
            std::uint32_t pair = entry >> 16;
            std::uint32_t count = literal_table::literal_count_of(entry);
            entry = literal_entries.main_entry(bitbuf);
            put(pair, count);
            saved = bitbuf;
            consume(entry);
            if (entry & literal_table::literals) {
                pair = entry >> 16;
                count = literal_table::literal_count_of(entry);
                entry = literal_entries.main_entry(bitbuf);
                put(pair, count);
                saved = bitbuf;
                consume(entry);
                if (entry & literal_table::literals) {
                    pair = entry >> 16;
                    count = literal_table::literal_count_of(entry);
                    entry = literal_entries.main_entry(bitbuf);
                    refill();
                    put(pair, count);
                    continue;
                }
            }
        }
        if (entry & literal_table::exceptional) {
            if (!(entry & literal_table::subtable)) {
                bitbuf = saved;
                bitcount += entry;
                break;
            }
            entry = literal_entries.sub_entry(entry, bitbuf);
            saved = bitbuf;
            consume(entry);
            if (entry & literal_table::literals) {
                const std::uint32_t literal = entry >> 16;
                entry = literal_entries.main_entry(bitbuf);
                refill();
                *out++ = static_cast<std::uint8_t>(literal);
                continue;
            }
            if (entry & literal_table::exceptional) {
                bitbuf = saved;
                bitcount += entry;
                break;
            }
        }
        const std::uint32_t length = literal_table::length_of(entry, saved);
        std::uint64_t code = distance_entries.main_entry(bitbuf);
        refill();
        if (code & distance_table::exceptional) {
            if (!(code & distance_table::subtable)) huffman_decoder::reject_codeword();
            code = distance_entries.sub_entry(code, bitbuf);
        }
        saved = bitbuf;
        consume(static_cast<std::uint32_t>(code));
        const std::uint32_t distance = distance_table::distance_of(code, saved);
        // Nothing before the first byte, nothing beyond the window.
        if (distance > static_cast<std::uint32_t>(out - base) || distance > history) fail("invalid distance");
        entry = literal_entries.main_entry(bitbuf);
        refill();
        out = copy_match_fast(out, distance, length);
    } while (in < in_fast_end && out < out_fast_end);

    at.in = in;
    at.bitbuf = bitbuf;
    at.bitcount = bitcount & 0xFF;
    at.out = out;
}

}  // namespace algorithm::flate
