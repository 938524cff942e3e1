// The inflate decompressor on hand-built streams: every block type and
// mode, the position left in the source, the sliding window's writes, and
// one test per error, named after the hazard it guards against.
#include "flate/decompressor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "inflate_helpers.h"
#include "stream/generator_input.h"

namespace {

using algorithm::flate::decompressor;
using flate_test::bit_writer;
using flate_test::bytes;
using flate_test::dynamic_header;
using flate_test::inflate_pull;
using flate_test::inflate_push;

const std::string where = "algorithm::flate::decompressor: ";

std::string push_failure(const bytes& stream, int extent = 15) {
    return flate_test::failure_of([&] { inflate_push(stream, extent); });
}

std::string pull_failure(const bytes& stream, int extent = 15) {
    return flate_test::failure_of([&] { inflate_pull(stream, extent); });
}

bytes text(const char* s) { return bytes(s, s + std::strlen(s)); }

// BFINAL and BTYPE of a block.
bit_writer& block(bit_writer& w, bool last, int type) {
    return w.field(last ? 1 : 0, 1).field(static_cast<std::uint32_t>(type), 2);
}

bit_writer stored(const bytes& data, bool last = true) {
    bit_writer w;
    block(w, last, 0).align();
    w.field(static_cast<std::uint32_t>(data.size()), 16).field(~static_cast<std::uint32_t>(data.size()) & 0xFFFF, 16);
    w.raw(data);
    return w;
}

// A dynamic block, "abc", then a match of 3 at distance 2, "a", end:
// "abcbcba". Literals a, b, c take 2 bits, 256 and 257 take 3; two 1-bit
// distance codes.
struct small_dynamic {
    bit_writer own;
    bit_writer& w;
    std::size_t end_bits;  // bits up to and including the end-of-block code
    explicit small_dynamic(bit_writer* into = nullptr) : w(into ? *into : own) {
        dynamic_header header;
        header.literal_lengths.assign(258, 0);
        header.literal_lengths['a'] = header.literal_lengths['b'] = header.literal_lengths['c'] = 2;
        header.literal_lengths[256] = header.literal_lengths[257] = 3;
        header.distance_lengths = {1, 1};
        block(w, true, 2);
        header.write(w);
        auto codes = flate_test::canonical_codes(header.literal_lengths);
        auto literal = [&](int s) { w.code(codes[s], header.literal_lengths[s]); };
        literal('a');
        literal('b');
        literal('c');
        literal(257);
        w.code(1, 1);  // distance code 1: distance 2
        literal('a');
        literal(256);
        end_bits = w.bit_count();
    }
};

TEST(decompressor, empty_final_stored_block_yields_nothing) {
    EXPECT_TRUE(inflate_push(stored({}).finish()).empty());
    EXPECT_TRUE(inflate_pull(stored({}).finish()).empty());
}

TEST(decompressor, stored_fixed_and_dynamic_blocks_in_one_stream) {
    bit_writer w = stored(text("stored "), false);
    block(w, false, 1);
    for (char c : std::string("fixed ")) w.fixed_literal(static_cast<unsigned char>(c));
    w.fixed_literal(256);
    small_dynamic dynamic(&w);
    bytes stream = w.finish();
    EXPECT_EQ(inflate_push(stream), text("stored fixed abcbcba"));
    EXPECT_EQ(inflate_pull(stream), text("stored fixed abcbcba"));
}

TEST(decompressor, distance_one_length_258_repeats_the_previous_byte) {
    bit_writer w;
    block(w, true, 1).fixed_literal('z').fixed_literal(285).fixed_distance(0).fixed_literal(256);
    EXPECT_EQ(inflate_push(w.finish()), bytes(259, 'z'));
}

TEST(decompressor, overlapping_matches_of_every_short_distance_repeat_the_pattern) {
    for (int distance = 1; distance <= 9; ++distance) {
        bit_writer w;
        block(w, true, 1);
        bytes expected;
        for (int i = 0; i < distance; ++i) {
            w.fixed_literal('0' + i);
            expected.push_back(static_cast<std::uint8_t>('0' + i));
        }
        // Length 40: symbol 273 with 3 extra bits is 35 to 42.
        w.fixed_literal(273).field(5, 3);
        // Distance codes 0..3 are 1..4; 4 is 5-6, 5 is 7-8, 6 is 9-12.
        static const int code[] = {0, 0, 1, 2, 3, 4, 4, 5, 5, 6};
        static const int base[] = {0, 1, 2, 3, 4, 5, 5, 7, 7, 9};
        w.fixed_distance(code[distance]);
        if (distance >= 5) w.field(static_cast<std::uint32_t>(distance - base[distance]), code[distance] == 6 ? 2 : 1);
        w.fixed_literal(256);
        for (int i = 0; i < 40; ++i) expected.push_back(expected[expected.size() - distance]);
        EXPECT_EQ(inflate_push(w.finish()), expected) << "distance " << distance;
    }
}

TEST(decompressor, symbols_286_and_287_mean_length_3) {
    bit_writer w;
    block(w, true, 1).fixed_literal('x').fixed_literal('y');
    w.fixed_literal(286).fixed_distance(1).fixed_literal(287).fixed_distance(0).fixed_literal(256);
    EXPECT_EQ(inflate_push(w.finish()), text("xyxyxxxx"));
}

TEST(decompressor, extent_16_reads_a_16_bit_length_after_symbol_285) {
    bit_writer w;
    block(w, true, 1).fixed_literal('q').fixed_literal(285).field(997, 16).fixed_distance(0).fixed_literal(256);
    bytes stream = w.finish();
    EXPECT_EQ(inflate_push(stream, 16), bytes(1001, 'q'));
    EXPECT_EQ(inflate_pull(stream, 16), bytes(1001, 'q'));
    // Plain Deflate takes 285 as 258 and the 16 bits as further codes.
    bit_writer plain;
    block(plain, true, 1).fixed_literal('q').fixed_literal(285).fixed_distance(0).fixed_literal(256);
    EXPECT_EQ(inflate_push(plain.finish(), 15), bytes(259, 'q'));
}

TEST(decompressor, long_matches_of_the_64k_variant_never_overflow_the_buffer) {
    // 65536 + 131328 bytes of history, so that the next match starts at the
    // slide threshold, then matches of 65538 bytes, the longest there are.
    bit_writer w;
    block(w, false, 1).fixed_literal('m');
    bytes expected(1, 'm');
    for (int i = 0; i < 6; ++i) {
        w.fixed_literal(285).field(0xFFFF, 16).fixed_distance(0);
        expected.resize(expected.size() + 65538, 'm');
    }
    w.fixed_literal('n').fixed_literal(285).field(0xFFFF, 16).fixed_distance(30).field(0x3FFF, 14);
    expected.push_back('n');
    std::size_t from = expected.size() - 32768 - 16384;
    for (int i = 0; i < 65538; ++i) expected.push_back(expected[from + i]);
    w.fixed_literal(256);
    block(w, true, 0).align().field(0, 16).field(0xFFFF, 16);
    bytes stream = w.finish();
    EXPECT_TRUE(inflate_push(stream, 16) == expected);
    EXPECT_TRUE(inflate_pull(stream, 16) == expected);
}

TEST(decompressor, extent_outside_10_to_25_is_refused) {
    bytes stream = stored(text("x")).finish();
    EXPECT_EQ(push_failure(stream, 9), where + "bad compression extent");
    EXPECT_EQ(push_failure(stream, 26), where + "bad compression extent");
    EXPECT_EQ(push_failure({}, 0), where + "bad compression extent");
    bytes named = {26};
    named.insert(named.end(), stream.begin(), stream.end());
    EXPECT_EQ(push_failure(named, 0), where + "bad compression extent");
}

TEST(decompressor, leading_extent_byte_sets_the_window_and_six_bit_distance_counts) {
    // Extent 12 (4 KiB window); the dynamic header's distance count has 6
    // bits. 5000 stored bytes, then a match reaching 4096 back (inside) and
    // one 4097 back (outside the window though the bytes exist).
    bytes data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    auto with_match = [&](std::uint32_t distance) {
        bit_writer w = stored(data, false);
        dynamic_header header;
        header.literal_lengths.assign(258, 0);
        header.literal_lengths[256] = header.literal_lengths[257] = 1;
        // Distance code 23 (3073 to 4096) is 0, code 24 (4097 to 6144) is 1.
        header.distance_lengths.assign(25, 0);
        header.distance_lengths[23] = header.distance_lengths[24] = 1;
        header.distance_bits = 6;
        block(w, true, 2);
        header.write(w);
        w.code(1, 1);  // 257: length 3
        if (distance <= 4096)
            w.code(0, 1).field(distance - 3073, 10);
        else
            w.code(1, 1).field(distance - 4097, 11);
        w.code(0, 1);  // 256
        bytes stream = {12};
        bytes body = w.finish();
        stream.insert(stream.end(), body.begin(), body.end());
        return stream;
    };
    bytes inside = inflate_push(with_match(4096), 0);
    ASSERT_EQ(inside.size(), 5003u);
    EXPECT_TRUE(std::equal(inside.end() - 3, inside.end(), data.end() - 4096));
    EXPECT_EQ(push_failure(with_match(4097), 0), where + "invalid distance");
}

TEST(decompressor, code_length_runs_past_the_end_of_the_table_are_cut) {
    // 257 literal/length lengths and 1 distance length: 97 zeros, 'a' 1
    // bit, 138 + 20 zeros, 256 1 bit; then the distance length comes from a
    // run longer than what is left.
    auto stream = [](std::pair<int, int> last_run) {
        dynamic_header header;
        header.literal_lengths.assign(257, 0);
        header.distance_lengths = {0};
        header.runs = {{18, 'a' - 11}, {1, 0}, {18, 138 - 11}, {18, 20 - 11}, {1, 0}, last_run};
        bit_writer w;
        block(w, true, 2);
        header.write(w);
        w.code(0, 1).code(0, 1).code(1, 1);  // a, a, 256
        return w.finish();
    };
    // Repeat the 1 six times where one length is left: one 1-bit code.
    EXPECT_EQ(inflate_push(stream({16, 3})), text("aa"));
    // 138 zeros where one is left: cut to one, an empty distance code,
    // which a block of literals only may have.
    EXPECT_EQ(inflate_push(stream({18, 127})), text("aa"));
}

TEST(decompressor, source_position_after_finish) {
    const bytes trailer = {'P', 'K', 7, 8, 9, 10, 11, 12};
    auto position_after = [&](const bytes& stream, bool give_back_bits, bytes* output = nullptr) {
        bytes followed = stream;
        followed.insert(followed.end(), trailer.begin(), trailer.end());
        stream::array_input source(followed.data(), static_cast<std::uint32_t>(followed.size()));
        decompressor inflater(source, 15, give_back_bits);
        bytes result;
        stream::vector_output target(result);
        inflater.copy_to(target);
        inflater.finish();
        inflater.finish();  // a second finish changes nothing
        if (output) *output = result;
        return source.position();
    };
    // A fixed block: 3 bits, 'a' (8 bits), 256 (7 bits), 18 bits in all.
    // The bit reader tops up to 25 bits before each code: before 256, at
    // bit 11, it holds bytes up to bit 36, that is 5 bytes.
    bit_writer fixed;
    block(fixed, true, 1).fixed_literal('a').fixed_literal(256);
    bytes output;
    EXPECT_EQ(position_after(fixed.finish(), false, &output), 5u);
    EXPECT_EQ(output, text("a"));
    EXPECT_EQ(position_after(fixed.finish(), true), 3u);

    // The dynamic block ends with a 3-bit code.
    small_dynamic dynamic;
    bytes stream = dynamic.w.finish();
    EXPECT_EQ(position_after(stream, false, &output), (dynamic.end_bits - 3 + 25 + 7) / 8);
    EXPECT_EQ(output, text("abcbcba"));
    EXPECT_EQ(position_after(stream, true), stream.size());

    // A stored block: the reader holds 3 bytes after its last byte.
    bytes data(70000 / 2, 's');
    bytes two = stored(data, false).finish();
    bytes last = stored(text("tail")).finish();
    two.insert(two.end(), last.begin(), last.end());
    EXPECT_EQ(position_after(two, false), two.size() + 3);
    EXPECT_EQ(position_after(two, true), two.size());
    // A stored block of length 0 ends with NLEN: 2 bytes held.
    EXPECT_EQ(position_after(stored({}).finish(), false), 5u + 2);
}

TEST(decompressor, valid_stream_ending_exactly_at_the_end_of_the_source_decodes) {
    small_dynamic dynamic;
    bytes stream = dynamic.w.finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    decompressor inflater(source, 15, true);
    bytes result;
    stream::vector_output target(result);
    EXPECT_EQ(inflater.copy_to(target), 7u);
    inflater.finish();
    EXPECT_EQ(source.position(), stream.size());
    EXPECT_EQ(source.get(), -1);
}

TEST(decompressor, truncated_stream_ends_with_unexpected_end_at_every_cut) {
    bit_writer w = stored(text("stored data "), false);
    block(w, false, 1);
    for (char c : std::string("fixed fixed fixed")) w.fixed_literal(static_cast<unsigned char>(c));
    w.fixed_literal(256);
    small_dynamic dynamic(&w);
    bytes stream = w.finish();
    ASSERT_EQ(inflate_push(stream), text("stored data fixed fixed fixedabcbcba"));
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        bytes part(stream.begin(), stream.begin() + cut);
        EXPECT_EQ(push_failure(part), where + "unexpected end of compressed data") << "cut at " << cut;
        EXPECT_EQ(pull_failure(part), where + "unexpected end of compressed data") << "cut at " << cut;
    }
}

TEST(decompressor, block_without_end_code_ends_at_the_end_of_the_source) {
    // A fixed block of literals that never ends: decoding must stop when
    // the data does, not run on with made-up bits.
    bit_writer w;
    block(w, true, 1);
    for (int i = 0; i < 1000; ++i) w.fixed_literal('a' + i % 26);
    EXPECT_EQ(push_failure(w.finish()), where + "unexpected end of compressed data");
}

TEST(decompressor, stored_length_not_matching_its_complement_is_refused) {
    bit_writer w;
    block(w, true, 0).align().field(5, 16).field(0xFFFB, 16).raw(text("hello"));
    EXPECT_EQ(push_failure(w.finish()), where + "compressed data size mismatch");
}

TEST(decompressor, block_type_3_is_refused) {
    bit_writer w;
    block(w, true, 3).field(0, 16);
    EXPECT_EQ(push_failure(w.finish()), where + "bad block type");
    EXPECT_EQ(pull_failure(w.finish()), where + "bad block type");
}

TEST(decompressor, match_reaching_before_the_first_byte_is_refused) {
    bit_writer w;
    block(w, true, 1).fixed_literal('a').fixed_literal(257).fixed_distance(1).fixed_literal(256);
    EXPECT_EQ(push_failure(w.finish()), where + "invalid distance");
    EXPECT_EQ(pull_failure(w.finish()), where + "invalid distance");
    bit_writer first;
    block(first, true, 1).fixed_literal(257).fixed_distance(0).fixed_literal(256);
    EXPECT_EQ(push_failure(first.finish()), where + "invalid distance");
}

TEST(decompressor, match_reaching_beyond_the_window_is_refused_though_the_bytes_exist) {
    // Extent 10: a 1 KiB window. 2000 bytes, then a match 1025 back.
    bytes data(2000, 'w');
    bit_writer w = stored(data, false);
    block(w, true, 1).fixed_literal(257).fixed_distance(20).field(0, 9).fixed_literal(256);
    EXPECT_EQ(push_failure(w.finish(), 10), where + "invalid distance");
    bit_writer inside = stored(data, false);
    block(inside, true, 1).fixed_literal(257).fixed_distance(19).field(255, 8).fixed_literal(256);
    EXPECT_EQ(inflate_push(inside.finish(), 10).size(), 2003u);
}

TEST(decompressor, distance_codes_30_and_31_reach_beyond_a_32k_window) {
    bytes data(40000, 'd');
    bit_writer w = stored(data, false);
    block(w, true, 1).fixed_literal(257).fixed_distance(30).field(0, 14).fixed_literal(256);
    EXPECT_EQ(push_failure(w.finish(), 15), where + "invalid distance");
    EXPECT_EQ(inflate_push(w.finish(), 16).size(), 40003u);
}

TEST(decompressor, repeat_of_the_previous_length_without_one_is_refused) {
    dynamic_header header;
    header.literal_lengths.assign(257, 0);
    header.distance_lengths = {1};
    header.runs = {{16, 0}};
    bit_writer w;
    block(w, true, 2);
    header.write(w);
    EXPECT_EQ(push_failure(w.finish()), where + "invalid code length repeat");
}

TEST(decompressor, more_distance_codes_than_the_decoder_holds_are_refused) {
    // Extent read from the stream: 6 bits of distance count, 63 + 1 codes.
    bit_writer w;
    block(w, true, 2).field(0, 5).field(63, 6).field(15, 4);
    bytes stream = {15};
    bytes body = w.finish();
    stream.insert(stream.end(), body.begin(), body.end());
    EXPECT_EQ(push_failure(stream, 0), where + "too many length or distance codes");
    // 50 codes are still fine to announce.
    bit_writer fifty;
    block(fifty, true, 2).field(0, 5).field(49, 6).field(15, 4);
    bytes ok = {15};
    body = fifty.finish();
    ok.insert(ok.end(), body.begin(), body.end());
    EXPECT_EQ(push_failure(ok, 0), where + "unexpected end of compressed data");
}

TEST(decompressor, half_filled_literal_code_rejects_the_unused_half) {
    // One literal/length code: 256 with length 1. The bit 1 is no code.
    dynamic_header header;
    header.literal_lengths.assign(257, 0);
    header.literal_lengths[256] = 1;
    header.distance_lengths = {1};
    bit_writer w;
    block(w, false, 2);
    header.write(w);
    w.code(0, 1);  // end of block
    bit_writer bad = w;
    block(bad, true, 2);
    header.write(bad);
    bad.code(1, 1).field(0, 16);
    block(w, true, 0).align().field(0, 16).field(0xFFFF, 16);
    EXPECT_TRUE(inflate_push(w.finish()).empty());
    EXPECT_EQ(push_failure(bad.finish()), "algorithm::flate::huffman_decoder: too many codewords");
}

// A block of literals only may give every distance code length 0: it then
// has no distance code at all. libdeflate writes such blocks for short
// texts without repeats; a match inside one is an error.
TEST(decompressor, a_block_without_distance_codes_holds_literals_only) {
    dynamic_header header;
    header.literal_lengths.assign(258, 0);
    header.literal_lengths['h'] = header.literal_lengths['i'] = 2;
    header.literal_lengths[256] = header.literal_lengths[257] = 2;
    header.distance_lengths = {0};
    auto codes = flate_test::canonical_codes(header.literal_lengths);
    bit_writer w;
    block(w, true, 2);
    header.write(w);
    bit_writer match = w;
    w.code(codes['h'], 2).code(codes['i'], 2).code(codes[256], 2);
    EXPECT_EQ(inflate_push(w.finish()), text("hi"));
    EXPECT_EQ(inflate_pull(w.finish()), text("hi"));
    match.code(codes['h'], 2).code(codes[257], 2).field(0, 16);
    EXPECT_EQ(push_failure(match.finish()), "algorithm::flate::huffman_decoder: too many codewords");
    EXPECT_EQ(pull_failure(match.finish()), "algorithm::flate::huffman_decoder: too many codewords");

    // What libdeflate made of an 83-byte text (one dynamic block, HDIST 1,
    // its one length 0).
    const bytes made_by_libdeflate = {
        0x05, 0x40, 0xb1, 0x0d, 0x80, 0x20, 0x10, 0xec, 0x9d, 0xe2, 0x3a, 0x1b, 0xc3, 0x00, 0x76, 0xc6,
        0x8a, 0xda, 0x38, 0x00, 0xf1, 0xdf, 0xf8, 0x89, 0x3c, 0xca, 0x43, 0xe2, 0x4a, 0xcc, 0xc1, 0x62,
        0x66, 0x57, 0x68, 0x8a, 0x20, 0xc6, 0x29, 0xc7, 0x25, 0x9c, 0xf1, 0x56, 0x81, 0x8e, 0x6c, 0x05,
        0x4f, 0x30, 0xb0, 0x62, 0xd9, 0x56, 0xef, 0x31, 0x23, 0xf7, 0x66, 0x35, 0xf6, 0xe6, 0xca, 0x57,
        0x26, 0x50, 0x50, 0xc3, 0xcd, 0xa0, 0x64, 0x26, 0x9c, 0x41, 0x49, 0xb5, 0x37, 0x36, 0x37, 0xfc,
    };
    EXPECT_EQ(inflate_push(made_by_libdeflate),
              text("Un nom de fichier qui n'est pas en ASCII : r\xc3\xa9sum\xc3\xa9.txt, dans le dossier donn\xc3\xa9"
                   "es.\n"));
}

TEST(decompressor, output_beyond_a_slide_arrives_in_large_writes_matching_the_whole) {
    // Records every write it is given.
    class recording_output : public stream::output {
    public:
        using stream::output::write;
        void write(const void* b, std::uint32_t n) override {
            if (n == 0) return;
            sizes.push_back(n);
            data.insert(data.end(), static_cast<const std::uint8_t*>(b), static_cast<const std::uint8_t*>(b) + n);
        }
        void put(int byte) override { write(&byte, 1); }
        stream::size_type position() override { return data.size(); }
        bytes data;
        std::vector<std::uint32_t> sizes;
    };
    bytes expected;
    bit_writer w;
    for (int i = 0; i < 10; ++i) {
        bytes piece(60000);
        for (std::size_t j = 0; j < piece.size(); ++j) piece[j] = static_cast<std::uint8_t>(j * (i + 3) >> 4);
        expected.insert(expected.end(), piece.begin(), piece.end());
        bit_writer s = stored(piece, i == 9);
        bytes b = s.finish();
        w.raw(b);
    }
    bytes stream = w.finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    decompressor inflater(source, 15, false);
    recording_output target;
    EXPECT_EQ(inflater.copy_to(target), expected.size());
    EXPECT_TRUE(target.data == expected);
    ASSERT_GE(target.sizes.size(), 4u);
    EXPECT_EQ(target.sizes[0], 32768u + 131328u);
    for (std::size_t i = 1; i + 1 < target.sizes.size(); ++i) EXPECT_EQ(target.sizes[i], 131328u);
    EXPECT_TRUE(inflate_pull(stream) == expected);
}

TEST(decompressor, pull_mode_reads_gets_skips_and_reports_the_end_again) {
    bytes data(300000);
    std::iota(data.begin(), data.end(), 0);
    bit_writer w;
    for (std::size_t at = 0; at < data.size(); at += 60000) {
        bytes b = stored(bytes(data.begin() + at, data.begin() + at + 60000), at + 60000 == data.size()).finish();
        w.raw(b);
    }
    bytes stream = w.finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    decompressor inflater(source, 15, false);
    EXPECT_EQ(inflater.size(), stream::unknown_size);
    EXPECT_EQ(inflater.get(), 0);
    EXPECT_EQ(inflater.skip(99999), 99999u);
    EXPECT_EQ(inflater.position(), 100000u);
    EXPECT_EQ(inflater.get(), data[100000]);
    std::uint8_t piece[10];
    EXPECT_EQ(inflater.read(piece, 10), 10u);
    EXPECT_EQ(piece[0], data[100001]);
    EXPECT_EQ(inflater.skip(1000000), 300000u - 100011u);
    EXPECT_EQ(inflater.position(), 300000u);
    EXPECT_EQ(inflater.get(), -1);
    EXPECT_EQ(inflater.read(piece, 10), 0u);
    EXPECT_EQ(inflater.get(), -1);
}

TEST(decompressor, copy_to_after_the_end_writes_nothing) {
    bytes stream = stored(text("once")).finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    decompressor inflater(source, 15, true);
    bytes result;
    stream::vector_output target(result);
    EXPECT_EQ(inflater.copy_to(target), 4u);
    EXPECT_EQ(inflater.copy_to(target), 0u);
    EXPECT_EQ(result, text("once"));
}

TEST(decompressor, flood_of_empty_blocks_decodes) {
    bit_writer w;
    for (int i = 0; i < 20000; ++i) block(w, false, 1).fixed_literal(256);
    for (int i = 0; i < 2000; ++i) {
        block(w, false, 0).align().field(0, 16).field(0xFFFF, 16);
    }
    block(w, true, 1).fixed_literal('!').fixed_literal(256);
    EXPECT_EQ(inflate_push(w.finish()), text("!"));
    EXPECT_EQ(inflate_pull(w.finish()), text("!"));
}

// A generator of the bytes 0, 1, 2, ... up to a total, `step` per call.
class counting_generator : public stream::generator_input {
public:
    counting_generator(std::uint64_t total, std::uint64_t step) : generator_input(nullptr), total(total), step(step) {}
    std::vector<std::uint64_t> asked;

protected:
    stream::size_type produce(stream::size_type minimum) override {
        asked.push_back(minimum);
        std::uint64_t n = std::min(step, total - made);
        for (std::uint64_t i = 0; i < n; ++i) sink().put(static_cast<int>((made + i) & 0xFF));
        made += n;
        return n;
    }

private:
    std::uint64_t total;
    std::uint64_t step;
    std::uint64_t made = 0;
};

TEST(generator_input, delivers_produced_bytes_in_order_with_short_reads) {
    counting_generator generator(1000, 300);
    std::uint8_t piece[500];
    EXPECT_EQ(generator.read(piece, 500), 300u);  // one refill per read
    EXPECT_EQ(piece[299], 299 & 0xFF);
    EXPECT_EQ(generator.read(piece, 500), 300u);
    EXPECT_EQ(piece[0], 300 & 0xFF);
    EXPECT_EQ(generator.position(), 600u);
    EXPECT_EQ(generator.get(), 600 & 0xFF);
    generator.unget(600 & 0xFF);
    EXPECT_EQ(generator.position(), 600u);
    EXPECT_EQ(generator.skip(1000), 400u);
    EXPECT_EQ(generator.read(piece, 1), 0u);
    EXPECT_EQ(generator.get(), -1);
    EXPECT_EQ(generator.asked.front(), stream::generator_input::produce_size);
    EXPECT_EQ(generator.size(), stream::unknown_size);
}

}  // namespace

namespace {

TEST(decompressor, pull_mode_stops_inside_a_long_block_so_memory_stays_bounded) {
    // One fixed block of 40000 matches of 258 bytes: over 10 MB from one
    // block. A single read asking for 8 MB gets one refill's worth only.
    bit_writer w;
    block(w, true, 1).fixed_literal('r');
    for (int i = 0; i < 40000; ++i) w.fixed_literal(285).fixed_distance(0);
    w.fixed_literal(256);
    bytes stream = w.finish();
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    decompressor inflater(source, 15, false);
    std::vector<std::uint8_t> piece(8 << 20);
    std::uint32_t first = inflater.read(piece.data(), static_cast<std::uint32_t>(piece.size()));
    EXPECT_GE(first, stream::generator_input::produce_size);
    EXPECT_LT(first, 1u << 20);
    std::uint64_t total = first;
    while (std::uint32_t got = inflater.read(piece.data(), static_cast<std::uint32_t>(piece.size()))) {
        EXPECT_LT(got, 1u << 20);
        EXPECT_EQ(piece[got - 1], 'r');
        total += got;
    }
    EXPECT_EQ(total, 1u + 40000u * 258u);
}

}  // namespace
