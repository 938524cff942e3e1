// The decompressor's fast loop against a plain expansion of hand-built
// streams: where it hands over to the careful step (near the window's
// slide, at block ends, before a bad code), the copies whose stores run
// past a match, two-literal entries, and the portable and BMI2 loops
// against each other. Every stream is decoded in push and in pull mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "flate/decompressor.h"
#include "inflate_helpers.h"

namespace {

using algorithm::flate::decompressor;
using flate_test::bit_writer;
using flate_test::bytes;
using flate_test::dynamic_header;
using flate_test::inflate_pull;
using flate_test::inflate_push;
using loops = decompressor::fast_loops;

const std::string where = "algorithm::flate::decompressor: ";

// The output a slide writes out first: the window and the slide, extent 15.
constexpr std::size_t slide_threshold = 32768 + 131328;

// A literal (`length` 0) or a match.
struct op {
    int literal;
    std::uint32_t length;
    std::uint32_t distance;
};
op lit(int byte) { return {byte, 0, 0}; }
op match(std::uint32_t length, std::uint32_t distance) { return {0, length, distance}; }

// Appends what `ops` make to `out`, byte by byte.
void expand(bytes& out, const std::vector<op>& ops) {
    for (const op& o : ops) {
        if (o.length == 0) {
            out.push_back(static_cast<std::uint8_t>(o.literal));
            continue;
        }
        for (std::uint32_t i = 0; i < o.length; ++i) out.push_back(out[out.size() - o.distance]);
    }
}

// RFC 1951, 3.2.5.
const std::uint32_t length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Symbol 257 + i and its extra bits.
void write_fixed_length(bit_writer& w, std::uint32_t length) {
    int i = 28;
    while (length_base[i] > length) --i;
    w.fixed_literal(257 + i).field(length - length_base[i], length_extra[i]);
}

void write_fixed_distance(bit_writer& w, std::uint32_t distance) {
    std::uint32_t base = 1;
    for (int code = 0; code < 30; ++code) {
        const int extra = code < 4 ? 0 : code / 2 - 1;
        if (distance < base + (1u << extra)) {
            w.fixed_distance(code).field(distance - base, extra);
            return;
        }
        base += 1u << extra;
    }
}

// A fixed-code block of `ops`.
void write_fixed_block(bit_writer& w, const std::vector<op>& ops, bool last) {
    w.field(last ? 1 : 0, 1).field(1, 2);
    for (const op& o : ops) {
        if (o.length == 0) {
            w.fixed_literal(o.literal);
        } else {
            write_fixed_length(w, o.length);
            write_fixed_distance(w, o.distance);
        }
    }
    w.fixed_literal(256);
}

// Stored blocks of `data`, none of them last.
void write_stored(bit_writer& w, const bytes& data) {
    for (std::size_t at = 0; at < data.size(); at += 60000) {
        const std::size_t n = std::min<std::size_t>(60000, data.size() - at);
        w.field(0, 1).field(0, 2).align();
        w.field(static_cast<std::uint32_t>(n), 16).field(~static_cast<std::uint32_t>(n) & 0xFFFF, 16);
        w.raw(
            bytes(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n)));
    }
}

// The same as bytes, for long runs of history.
bytes stored_blocks(const bytes& data) {
    bytes out;
    for (std::size_t at = 0; at < data.size(); at += 60000) {
        const std::size_t n = std::min<std::size_t>(60000, data.size() - at);
        out.insert(out.end(), {0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                               static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)});
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return out;
}

bytes pattern(std::size_t size, unsigned seed) {
    bytes data(size);
    std::mt19937 random(seed);
    for (auto& b : data) b = static_cast<std::uint8_t>("abcdefghij"[random() % 10]);
    return data;
}

// Decodes in push and pull mode with every fast loop the processor runs;
// all must give `expected`.
void expect_decodes(const bytes& stream, const bytes& expected, int extent = 15) {
    const loops chosen = decompressor::active();
    for (loops which : {loops::portable, loops::bmi2}) {
        if (!decompressor::use(which)) continue;
        bytes pushed = inflate_push(stream, extent);
        bytes pulled = inflate_pull(stream, extent);
        decompressor::use(chosen);
        ASSERT_EQ(pushed.size(), expected.size()) << "loops " << static_cast<int>(which);
        EXPECT_TRUE(pushed == expected) << "loops " << static_cast<int>(which);
        EXPECT_TRUE(pulled == expected) << "loops " << static_cast<int>(which);
    }
}

// The failure of push and pull mode with every fast loop; all must agree.
std::string failure(const bytes& stream) {
    const loops chosen = decompressor::active();
    std::string first;
    bool any = false;
    for (loops which : {loops::portable, loops::bmi2}) {
        if (!decompressor::use(which)) continue;
        std::string push = flate_test::failure_of([&] { inflate_push(stream); });
        std::string pull = flate_test::failure_of([&] { inflate_pull(stream); });
        decompressor::use(chosen);
        EXPECT_EQ(push, pull) << "loops " << static_cast<int>(which);
        if (any) {
            EXPECT_EQ(push, first) << "loops " << static_cast<int>(which);
        }
        first = push;
        any = true;
    }
    return first;
}

// The BMI2 loops are chosen where the processor has BMI2: a known stream
// they decode wrong would leave them out without a word.
TEST(fast_loop, bmi2_loops_are_chosen_where_the_processor_has_them) {
#if defined(__x86_64__)
    const bool has_bmi2 = __builtin_cpu_supports("bmi2");
#else
    const bool has_bmi2 = false;
#endif
    EXPECT_EQ(decompressor::active(), has_bmi2 ? loops::bmi2 : loops::portable);
    const loops chosen = decompressor::active();
    EXPECT_EQ(decompressor::use(loops::bmi2), has_bmi2);
    EXPECT_TRUE(decompressor::use(loops::portable));
    EXPECT_EQ(decompressor::active(), loops::portable);
    decompressor::use(chosen);
}

// Random literals and matches of every distance class (1, 2 to 7, 8 to
// 15, 16 and more, up to the whole window) and length, in fixed blocks
// and stored ones, several slides long.
TEST(fast_loop, random_streams_decode_like_their_expansion) {
    std::mt19937 random(21);
    for (int round = 0; round < 3; ++round) {
        bit_writer w;
        bytes expected;
        while (expected.size() < 3 * slide_threshold) {
            if (random() % 8 == 0) {
                bytes data = pattern(random() % 3000, random());
                write_stored(w, data);
                expected.insert(expected.end(), data.begin(), data.end());
                continue;
            }
            std::vector<op> ops;
            std::size_t size = expected.size();
            for (int n = 1 + random() % 3000; n > 0; --n) {
                if (size < 300 || random() % 2 == 0) {
                    ops.push_back(lit(static_cast<int>(random() % 256)));
                    ++size;
                    continue;
                }
                std::uint32_t distance;
                switch (random() % 5) {
                    case 0:
                        distance = 1;
                        break;
                    case 1:
                        distance = 2 + random() % 6;
                        break;
                    case 2:
                        distance = 8 + random() % 8;
                        break;
                    case 3:
                        distance = 16 + random() % 48;
                        break;
                    default:
                        distance = 1 + random() % static_cast<std::uint32_t>(std::min<std::size_t>(size, 32768));
                }
                const std::uint32_t length = random() % 4 == 0 ? 3 + random() % 256 : 3 + random() % 30;
                ops.push_back(match(length, distance));
                size += length;
            }
            write_fixed_block(w, ops, false);
            expand(expected, ops);
        }
        write_fixed_block(w, {lit('.')}, true);
        expected.push_back('.');
        expect_decodes(w.finish(), expected);
    }
}

// The fast loop stops a few bytes below the slide threshold and the
// careful step takes over up to the slide. A match that starts anywhere
// around there, of every copy kind, must come out whole, and the history
// after the slide must be the decoded bytes, not what a copy's stores
// left past the end of its match.
TEST(fast_loop, matches_around_the_slide_threshold_decode_exactly) {
    for (std::size_t before = 0; before <= 48; ++before) {
        bytes expected = pattern(slide_threshold - before, 5);
        bytes stream = stored_blocks(expected);
        bit_writer w;
        std::vector<op> ops = {match(258, 1), match(3, 300), lit('Z'), match(100, 300),
                               match(40, 9),  match(30, 3),  lit('Y'), match(5, 17)};
        // Matches reaching back to just where the first ones ended.
        ops.push_back(match(258, 32768));
        ops.push_back(match(258, 32768 - 7));
        for (int i = 0; i < 400; ++i) ops.push_back(lit('a' + i % 26));
        write_fixed_block(w, ops, true);
        expand(expected, ops);
        bytes block = w.finish();
        stream.insert(stream.end(), block.begin(), block.end());
        expect_decodes(stream, expected);
    }
}

// A dynamic code of mostly literals: 'a' to 'g' 3 bits (7/8 of the
// space), 256 4 bits, 257 (length 3) and 285 (length 258) 5 bits; two
// distance codes of 1 bit (distances 1 and 2).
struct literal_heavy {
    dynamic_header header;
    std::vector<std::uint32_t> codes;
    std::vector<std::uint32_t> distance_codes;
    literal_heavy() {
        header.literal_lengths.assign(286, 0);
        for (int c = 'a'; c <= 'g'; ++c) header.literal_lengths[c] = 3;
        header.literal_lengths[256] = 4;
        header.literal_lengths[257] = header.literal_lengths[285] = 5;
        header.distance_lengths = {1, 1};
        codes = flate_test::canonical_codes(header.literal_lengths);
        distance_codes = flate_test::canonical_codes(header.distance_lengths);
    }
    void symbol(bit_writer& w, int s) const { w.code(codes[s], header.literal_lengths[s]); }
    void block(bit_writer& w, const std::vector<op>& ops, bool last) const {
        w.field(last ? 1 : 0, 1).field(2, 2);
        header.write(w);
        for (const op& o : ops) {
            if (o.length == 0) {
                symbol(w, o.literal);
                continue;
            }
            symbol(w, o.length == 3 ? 257 : 285);
            w.code(distance_codes[o.distance - 1], 1);
        }
        symbol(w, 256);
    }
};

// The same around the threshold with two-literal entries, which store two
// bytes where they may hold one.
TEST(fast_loop, two_literal_entries_around_the_slide_threshold_decode_exactly) {
    literal_heavy code;
    std::mt19937 random(3);
    for (std::size_t before = 0; before <= 24; ++before) {
        bytes expected = pattern(slide_threshold - before, 6);
        bytes stream = stored_blocks(expected);
        bit_writer w;
        std::vector<op> ops;
        for (int i = 0; i < 800; ++i) {
            const unsigned r = random() % 16;
            ops.push_back(r == 0   ? match(3, 1 + random() % 2)
                          : r == 1 ? match(258, 1 + random() % 2)
                                   : lit('a' + static_cast<int>(random() % 7)));
        }
        code.block(w, ops, true);
        expand(expected, ops);
        bytes block = w.finish();
        stream.insert(stream.end(), block.begin(), block.end());
        expect_decodes(stream, expected);
    }
}

// Codes longer than the main tables' bits are decoded through subtables,
// by a path of their own in the fast loop: a staircase literal/length code
// of 1 to 15 bits ('a' 1 bit ... 'm' 13 bits, 256 14 bits, 257 and 258 15
// bits) and a staircase distance code of 1 to 15 bits (codes 0 to 15).
TEST(fast_loop, long_codes_decode_through_subtables) {
    dynamic_header header;
    header.literal_lengths.assign(259, 0);
    for (int i = 0; i < 13; ++i) header.literal_lengths['a' + i] = i + 1;
    header.literal_lengths[256] = 14;
    header.literal_lengths[257] = header.literal_lengths[258] = 15;
    header.distance_lengths.assign(16, 0);
    for (int i = 0; i < 14; ++i) header.distance_lengths[i] = i + 1;
    header.distance_lengths[14] = header.distance_lengths[15] = 15;
    auto codes = flate_test::canonical_codes(header.literal_lengths);
    auto distance_codes = flate_test::canonical_codes(header.distance_lengths);
    auto symbol = [&](bit_writer& w, int s) { w.code(codes[s], header.literal_lengths[s]); };

    std::mt19937 random(12);
    bytes expected = pattern(1000, 13);
    bytes stream = stored_blocks(expected);
    bit_writer w;
    w.field(1, 1).field(2, 2);
    header.write(w);
    for (int n = 0; n < 5000; ++n) {
        if (random() % 3 != 0) {
            const int letter = 'a' + static_cast<int>(random() % 13);
            symbol(w, letter);
            expected.push_back(static_cast<std::uint8_t>(letter));
            continue;
        }
        const std::uint32_t length = 3 + random() % 2;
        symbol(w, length == 3 ? 257 : 258);
        const int code = static_cast<int>(random() % 16);
        const int extra = code < 4 ? 0 : code / 2 - 1;
        std::uint32_t base = 1;
        for (int c = 0; c < code; ++c) base += 1u << (c < 4 ? 0 : c / 2 - 1);
        const std::uint32_t offset = random() & ((1u << extra) - 1);
        w.code(distance_codes[code], header.distance_lengths[code]).field(offset, extra);
        for (std::uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - (base + offset)]);
    }
    symbol(w, 256);
    bytes block = w.finish();
    stream.insert(stream.end(), block.begin(), block.end());
    expect_decodes(stream, expected);
}

// A literal-only stream cut anywhere: wherever the cut falls inside a
// two-literal entry, decoding must end with the error, not with one
// literal of the two or one too many.
TEST(fast_loop, stream_cut_inside_two_literal_entries_ends_with_unexpected_end) {
    literal_heavy code;
    std::vector<op> ops;
    for (int i = 0; i < 300; ++i) ops.push_back(lit('a' + i * 5 % 7));
    bit_writer w;
    code.block(w, ops, true);
    bytes stream = w.finish();
    bytes expected;
    expand(expected, ops);
    expect_decodes(stream, expected);
    for (std::size_t cut = 0; cut < stream.size(); ++cut)
        ASSERT_EQ(failure(bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut))),
                  where + "unexpected end of compressed data")
            << "cut at " << cut;
}

// A bad code with plenty of input after it is met by the fast loop, not
// by the careful step at the end; it must fail with the same error.
TEST(fast_loop, bad_codes_amid_long_input_fail_as_at_the_end) {
    std::vector<op> lead;
    for (int i = 0; i < 1000; ++i) lead.push_back(lit('a' + i % 26));
    std::vector<op> tail = lead;

    // A match 2000 back after 1000 bytes.
    bit_writer far;
    std::vector<op> ops = lead;
    ops.push_back(match(10, 2000));
    ops.insert(ops.end(), tail.begin(), tail.end());
    write_fixed_block(far, ops, true);
    EXPECT_EQ(failure(far.finish()), where + "invalid distance");

    // The unused half of a half-filled literal/length code: 'a' and 256
    // take 00 and 01, the pattern 1 starts no code.
    dynamic_header half;
    half.literal_lengths.assign(257, 0);
    half.literal_lengths['a'] = half.literal_lengths[256] = 2;
    half.distance_lengths = {1};
    bit_writer no_literal;
    no_literal.field(1, 1).field(2, 2);
    half.write(no_literal);
    for (int i = 0; i < 2000; ++i) no_literal.code(0, 2);
    no_literal.code(1, 1);
    for (int i = 0; i < 2000; ++i) no_literal.code(0, 2);
    EXPECT_EQ(failure(no_literal.finish()), "algorithm::flate::huffman_decoder: too many codewords");

    // The unused half of a one-code distance code.
    dynamic_header one_distance;
    one_distance.literal_lengths.assign(258, 0);
    one_distance.literal_lengths['a'] = 1;
    one_distance.literal_lengths[256] = one_distance.literal_lengths[257] = 2;
    one_distance.distance_lengths = {1};
    bit_writer no_distance;
    no_distance.field(1, 1).field(2, 2);
    one_distance.write(no_distance);
    for (int i = 0; i < 2000; ++i) no_distance.code(0, 1);
    no_distance.code(3, 2).code(1, 1);  // 257, then the distance pattern 1
    for (int i = 0; i < 2000; ++i) no_distance.code(0, 1);
    EXPECT_EQ(failure(no_distance.finish()), "algorithm::flate::huffman_decoder: too many codewords");
}

// Blocks ending while the fast loop runs hand their last code to the
// careful step, which must leave the source exactly after the data once
// the bits are given back, as it does at the end of the input.
TEST(fast_loop, block_ends_amid_long_input_leave_the_source_after_the_data) {
    std::mt19937 random(4);
    bit_writer w;
    bytes expected;
    for (int block = 0; block < 300; ++block) {
        std::vector<op> ops;
        for (int n = random() % 40; n >= 0; --n)
            ops.push_back(expected.size() > 10 && random() % 3 == 0 ? match(3 + random() % 20, 1 + random() % 10)
                                                                    : lit(static_cast<int>(random() % 256)));
        write_fixed_block(w, ops, block == 299);
        expand(expected, ops);
    }
    bytes stream = w.finish();
    expect_decodes(stream, expected);
    bytes followed = stream;
    followed.insert(followed.end(), 100, 0xA5);
    const loops chosen = decompressor::active();
    for (loops which : {loops::portable, loops::bmi2}) {
        if (!decompressor::use(which)) continue;
        stream::array_input source(followed.data(), static_cast<std::uint32_t>(followed.size()));
        decompressor inflater(source, 15, true);
        bytes result;
        stream::vector_output target(result);
        EXPECT_EQ(inflater.copy_to(target), expected.size());
        inflater.finish();
        EXPECT_EQ(source.position(), stream.size()) << "loops " << static_cast<int>(which);
        decompressor::use(chosen);
    }
}

// In the 64 KiB variant a length that comes out as 258, from symbol 285
// or from 284 with all extra bits set, is followed by 16 bits of length
// minus 3. The fast loop leaves both symbols to the careful step, amid
// long input too.
TEST(fast_loop, every_length_258_of_the_64k_variant_reads_16_more_bits_amid_long_input) {
    bit_writer w;
    w.field(1, 1).field(1, 2);
    bytes expected;
    for (int i = 0; i < 600; ++i) {
        w.fixed_literal('a' + i % 26);
        expected.push_back(static_cast<std::uint8_t>('a' + i % 26));
    }
    w.fixed_literal(284).field(31, 5).field(997, 16).fixed_distance(0);  // 284 + 31: 258, then 1000
    expected.insert(expected.end(), 1000, expected.back());
    w.fixed_literal(284).field(30, 5).fixed_distance(0);  // 257: no more bits
    expected.insert(expected.end(), 257, expected.back());
    w.fixed_literal(285).field(5, 16).fixed_distance(4).field(1, 1);  // 8, distance 6
    for (int i = 0; i < 8; ++i) expected.push_back(expected[expected.size() - 6]);
    for (int i = 0; i < 600; ++i) {
        w.fixed_literal('A' + i % 26);
        expected.push_back(static_cast<std::uint8_t>('A' + i % 26));
    }
    w.fixed_literal(256);
    expect_decodes(w.finish(), expected, 16);
}

// Reads at most `step` bytes at a time, as a pipe or a slow file may.
class trickling_input : public stream::array_input {
public:
    trickling_input(const bytes& data, std::uint32_t step)
        : array_input(data.data(), static_cast<std::uint32_t>(data.size())), step(step) {}

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override {
        return array_input::do_read(buffer, std::min(length, step));
    }

private:
    std::uint32_t step;
};

// A dynamic header is read from the block buffer, topped up first; one
// that begins just before the end of what the buffer holds, from a source
// that delivers little at a time, must read on into the next bytes.
TEST(fast_loop, dynamic_header_across_the_end_of_the_block_buffer_decodes) {
    literal_heavy code;
    std::vector<op> ops;
    for (int i = 0; i < 100; ++i) ops.push_back(lit('a' + i % 7));
    for (std::uint32_t step : {65536u, 1000u, 7u}) {
        for (std::size_t stored = 65536 - 5 - 20; stored <= 65536 - 5 + 2; ++stored) {
            bytes data = pattern(stored, 9);
            bit_writer w;
            w.field(0, 1).field(0, 2).align();
            w.field(static_cast<std::uint32_t>(stored), 16).field(~static_cast<std::uint32_t>(stored) & 0xFFFF, 16);
            w.raw(data);
            code.block(w, ops, true);
            bytes stream = w.finish();
            bytes expected = data;
            expand(expected, ops);
            stream.insert(stream.end(), {1, 2, 3});
            trickling_input source(stream, step);
            decompressor inflater(source, 15, true);
            bytes result;
            stream::vector_output target(result);
            inflater.copy_to(target);
            inflater.finish();
            ASSERT_TRUE(result == expected) << "stored " << stored << " step " << step;
            ASSERT_EQ(source.position(), stream.size() - 3) << "stored " << stored << " step " << step;
        }
    }
}

}  // namespace
