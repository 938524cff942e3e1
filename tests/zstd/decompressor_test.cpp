// The Zstandard decompressor on hand-built frames: every block and
// literals type, skippable and several frames, the window rules, and a
// table of hostile frames, each named after its hazard with the exact
// message it must end in.
#include "zstd/decompressor.h"

#include <gtest/gtest.h>

#include "stream/limited_input.h"
#include "zstd/xxhash64.h"
#include "zstd_helpers.h"

namespace {

using namespace zstd_test;
using algorithm::zstd::xxhash64;

const std::string frame_error = "algorithm::zstd::decompressor: ";
const std::string sequences_error = "algorithm::zstd::sequences: ";
const std::string fse_error = "algorithm::zstd::fse_table: ";
const std::string huffman_error = "algorithm::zstd::huffman_table: ";

// Compressed literals with a direct-weight tree (weights for symbols 0 to
// n - 1, the last symbol's implied) in one stream, or four.
bytes huffman_literals(const bytes& weights, std::uint32_t count, const bytes& streams, int type = 2, int format = 0) {
    bytes tree;
    if (type == 2) {
        tree.push_back(static_cast<std::uint8_t>(127 + weights.size()));
        for (std::size_t i = 0; i < weights.size(); i += 2)
            tree.push_back(static_cast<std::uint8_t>(weights[i] << 4 | (i + 1 < weights.size() ? weights[i + 1] : 0)));
    }
    const auto size = static_cast<std::uint32_t>(tree.size() + streams.size());
    return little_endian(static_cast<std::uint32_t>(type) | format << 2 | count << 4 | size << 14, 3) + tree + streams;
}

// Weight 1 for 'a' (97) and, implied, for 'b': one bit each, 'a' = 0.
bytes weights_ab() {
    bytes weights(98, 0);
    weights[97] = 1;
    return weights;
}

// "ab", then a match 2 back of 3 bytes: "ababa".
bytes ababa_block(bool last = true) {
    return compressed(raw_literals(text("ab")) + rle_sequences(1, 2, 2, 0, backward({{1, 2}})), last);
}

// A 1 KiB window, filled by a raw block of 1024 bytes.
bytes small_window_frame_start() { return header(0x00, {0x00}) + raw(bytes(1024, 'w'), false); }

bytes skippable(const bytes& content) {
    return bytes{0x50, 0x2A, 0x4D, 0x18} + little_endian(content.size(), 4) + content;
}

void expect_decodes(const bytes& frames, const bytes& expected) {
    EXPECT_EQ(decode_push(frames), expected);
    EXPECT_EQ(decode_pull(frames), expected);
}

TEST(decompressor, raw_rle_and_compressed_blocks_in_several_frames_with_skippable_ones) {
    const bytes frames = skippable(text("ignored")) + plain_header() + raw(text("x"), false) +
                         block(false, 1, 4, {'y'}) + ababa_block() + skippable({}) + header(0x20, {3}) +
                         raw(text("end"));
    expect_decodes(frames, text("xyyyyababaend"));
}

TEST(decompressor, only_skippable_frames_decode_to_nothing) { expect_decodes(skippable(text("abc")), {}); }

TEST(decompressor, huffman_literals_then_treeless_literals_reusing_the_table) {
    // "abba" (codes 0 1 1 0), then "ba" with the same table.
    const bytes frame =
        plain_header() +
        compressed(huffman_literals(weights_ab(), 4, backward({{0, 1}, {1, 1}, {1, 1}, {0, 1}})) + bytes{0}, false) +
        compressed(huffman_literals({}, 2, backward({{1, 1}, {0, 1}}), 3) + bytes{0});
    expect_decodes(frame, text("abbaba"));
}

TEST(decompressor, four_literal_streams_share_the_literals) {
    // Six literals: streams of 2, 2, 2 and 0, sizes 1, 1, 1 in the jump
    // table and 1 for the last, empty one.
    const bytes streams = bytes{1, 0, 1, 0, 1, 0} + backward({{0, 1}, {1, 1}}) + backward({{1, 1}, {1, 1}}) +
                          backward({{0, 1}, {0, 1}}) + backward({});
    expect_decodes(plain_header() + compressed(huffman_literals(weights_ab(), 6, streams, 2, 1) + bytes{0}),
                   text("abbbaa"));
}

TEST(decompressor, a_zero_dictionary_id_and_the_content_checksum_are_taken) {
    xxhash64 hash;
    hash.update(text("abc").data(), 3);
    const auto checksum = little_endian(hash.digest(), 4);
    expect_decodes(header(0x05, {6 << 3, 0}) + raw(text("abc")) + checksum, text("abc"));
}

TEST(decompressor, xxhash64_of_nothing_is_the_known_value) { EXPECT_EQ(xxhash64().digest(), 0xEF46DB3751D8E999u); }

TEST(decompressor, a_window_beyond_the_cap_is_taken_when_the_content_is_small) {
    // 2^28 declared; the entry's size, or the frame's, bounds what is needed.
    const bytes huge = header(0x00, {18 << 3}) + raw(text("abc"));
    EXPECT_EQ(decode_push(huge, 3), text("abc"));
    EXPECT_EQ(decode_push(header(0x80, bytes{18 << 3} + little_endian(3, 4)) + raw(text("abc"))), text("abc"));
}

TEST(decompressor, the_source_stands_after_the_frames) {
    // Nothing is read ahead: inside a limited range of a longer stream, the
    // stream ends up right after the range.
    const bytes frame = plain_header() + ababa_block();
    const bytes stored = frame + text("next entry");
    for (int pull = 0; pull < 2; ++pull) {
        stream::array_input whole(stored.data(), static_cast<std::uint32_t>(stored.size()));
        stream::limited_input entry(whole, frame.size());
        algorithm::zstd::decompressor decoder(entry, stream::unknown_size);
        bytes out;
        stream::vector_output target(out);
        if (pull) {
            std::uint8_t piece[16];
            while (std::uint32_t got = decoder.read(piece, sizeof piece)) out.insert(out.end(), piece, piece + got);
        } else {
            decoder.copy_to(target);
        }
        decoder.finish();
        EXPECT_EQ(out, text("ababa"));
        EXPECT_EQ(whole.position(), frame.size());
    }
}

TEST(decompressor, every_cut_of_a_frame_fails) {
    xxhash64 hash;
    const bytes content = text("xyyyyababa");
    hash.update(content.data(), content.size());
    const bytes frame = header(0x04, {6 << 3}) + raw(text("x"), false) + block(false, 1, 4, {'y'}) + ababa_block() +
                        little_endian(hash.digest(), 4);
    ASSERT_EQ(decode_push(frame), content);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        const bytes part(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_NE(failure_of([&] { decode_push(part); }), "") << "cut at " << cut;
        EXPECT_NE(failure_of([&] { decode_pull(part); }), "") << "cut at " << cut;
    }
}

struct hazard {
    const char* name;
    bytes frames;
    std::string message;
};

std::vector<hazard> hazards() {
    const bytes plain = plain_header();
    const bytes ab = raw_literals(text("ab"));
    const bytes none = raw_literals({});
    auto sequences_block = [&](const bytes& literals, const bytes& sequences) {
        return plain + compressed(literals + sequences);
    };
    return {
        {"empty_source", {}, frame_error + "no frame"},
        {"bad_magic", {1, 2, 3, 4}, frame_error + "bad magic number"},
        {"cut_magic", {0x28, 0xB5}, frame_error + "unexpected end of compressed data"},
        {"garbage_after_a_frame", plain + raw(text("a")) + bytes{1, 2, 3, 4}, frame_error + "bad magic number"},
        {"cut_skippable_frame", bytes{0x50, 0x2A, 0x4D, 0x18, 10, 0, 0, 0, 1, 2},
         frame_error + "unexpected end of compressed data"},
        {"reserved_header_bit", header(0x08, {6 << 3}) + raw(text("a")),
         frame_error + "reserved bit set in the frame header"},
        {"dictionary_id", header(0x01, {6 << 3, 7}) + raw(text("a")), frame_error + "dictionaries are not supported"},
        {"window_beyond_the_cap", header(0x00, {18 << 3}) + raw(text("a")), frame_error + "frame window too large"},
        {"more_than_the_content_size", header(0x80, bytes{6 << 3} + little_endian(2, 4)) + raw(text("abc")),
         frame_error + "frame content size mismatch"},
        {"less_than_the_content_size", header(0x80, bytes{6 << 3} + little_endian(5, 4)) + raw(text("abc")),
         frame_error + "frame content size mismatch"},
        {"checksum_mismatch", header(0x04, {6 << 3}) + raw(text("abc")) + bytes{0, 0, 0, 0},
         frame_error + "content checksum mismatch"},
        {"reserved_block_type", plain + block(true, 3, 0), frame_error + "reserved block type"},
        {"block_beyond_the_window", plain + block(true, 0, 65537), frame_error + "block larger than its maximum"},
        {"rle_block_beyond_the_window", header(0x00, {0x00}) + block(true, 1, 1025, {'r'}),
         frame_error + "block larger than its maximum"},
        {"cut_block", plain + block(true, 0, 5, text("ab")), frame_error + "unexpected end of compressed data"},
        {"no_last_block", plain + raw(text("ab"), false), frame_error + "unexpected end of compressed data"},
        {"empty_compressed_block", plain + compressed({}), frame_error + "truncated literals section"},
        {"literals_beyond_the_block", header(0x00, {0x00}) + compressed(little_endian(0xC | 2000 << 4, 3)),
         frame_error + "literals larger than a block"},
        {"treeless_literals_first",
         plain + compressed(huffman_literals({}, 2, backward({{1, 1}, {0, 1}}), 3) + bytes{0}),
         frame_error + "treeless literals without a previous table"},
        // Huffman trees and literal streams.
        {"incomplete_huffman_code", plain + compressed(huffman_literals({2, 2, 1}, 1, backward({{0, 2}})) + bytes{0}),
         huffman_error + "incomplete Huffman code"},
        {"single_longest_code", plain + compressed(huffman_literals({2}, 1, backward({{0, 1}})) + bytes{0}),
         huffman_error + "incomplete Huffman code"},
        {"huffman_code_of_12_bits", plain + compressed(huffman_literals({12}, 1, backward({{0, 1}})) + bytes{0}),
         huffman_error + "Huffman code longer than 11 bits"},
        {"empty_huffman_code", plain + compressed(huffman_literals({0}, 1, backward({{0, 1}})) + bytes{0}),
         huffman_error + "empty Huffman code"},
        {"literal_stream_left_over",
         plain + compressed(huffman_literals(weights_ab(), 3, backward({{0, 1}, {1, 1}, {0, 1}, {0, 1}})) + bytes{0}),
         huffman_error + "literal stream not fully used"},
        {"literal_stream_overread",
         plain + compressed(huffman_literals(weights_ab(), 3, backward({{0, 1}, {1, 1}})) + bytes{0}),
         huffman_error + "truncated literal stream"},
        {"literal_stream_without_mark", plain + compressed(huffman_literals(weights_ab(), 1, {0x00}) + bytes{0}),
         huffman_error + "bad literal stream"},
        {"four_streams_for_one_literal",
         plain + compressed(huffman_literals(weights_ab(), 1, bytes{1, 0, 1, 0, 1, 0, 1, 1, 1, 1}, 2, 1) + bytes{0}),
         huffman_error + "too few literals for four streams"},
        {"cut_jump_table",
         plain + compressed(huffman_literals(weights_ab(), 8, bytes{9, 0, 1, 0, 1, 0, 1}, 2, 1) + bytes{0}),
         huffman_error + "truncated literal jump table"},
        // Sequences.
        {"sequences_section_missing", plain + compressed(ab), sequences_error + "truncated sequences section"},
        {"bytes_after_no_sequences", sequences_block(ab, {0, 0}), sequences_error + "sequences section too long"},
        {"reserved_sequences_bits", sequences_block(ab, {1, 0x55, 2, 2, 0, 0x05}),
         sequences_error + "reserved bits set in the sequences header"},
        {"repeated_table_first", sequences_block(ab, {1, 0xFC, 0x05}),
         sequences_error + "repeated table without a previous one"},
        {"rle_symbol_out_of_range", sequences_block(ab, rle_sequences(1, 36, 2, 0, {0x05})),
         fse_error + "repeated symbol out of range"},
        {"accuracy_log_of_20", sequences_block(ab, {1, 0x94, 0x0F, 2, 0, 0x05}), fse_error + "accuracy log too large"},
        {"zero_runs_past_the_symbols", sequences_block(ab, {1, 0x94, 0x10, 0xFE, 0xFF, 0xFF, 0x01, 2, 0, 0x05}),
         fse_error + "too many symbols in a distribution"},
        {"cut_distribution", sequences_block(ab, {1, 0x94, 0x00}), fse_error + "truncated distribution"},
        {"sequences_stream_without_mark", sequences_block(ab, rle_sequences(1, 2, 2, 0, {0x00})),
         sequences_error + "bad sequences stream"},
        {"sequences_stream_left_over", sequences_block(ab, rle_sequences(1, 2, 2, 0, backward({{1, 2}, {0, 3}}))),
         sequences_error + "sequences stream not fully used"},
        {"sequences_stream_overread", sequences_block(ab, rle_sequences(1, 2, 2, 0, backward({}))),
         sequences_error + "truncated sequences stream"},
        {"literal_length_beyond_the_literals",
         sequences_block(raw_literals(text("a")), rle_sequences(1, 2, 2, 0, backward({{1, 2}}))),
         sequences_error + "literal length beyond the literals"},
        {"match_beyond_the_block",
         header(0x00, {0x00}) +
             compressed(raw_literals(text("a")) + rle_sequences(1, 1, 2, 52, backward({{1, 2}, {0, 16}}))),
         sequences_error + "block larger than its maximum"},
        {"offset_before_the_frame", sequences_block(ab, rle_sequences(1, 2, 3, 0, backward({{0, 3}}))),
         sequences_error + "match offset before the start of the frame"},
        {"offset_beyond_the_window",
         small_window_frame_start() + compressed(none + rle_sequences(1, 0, 10, 0, backward({{4, 10}}))),
         sequences_error + "match offset beyond the window"},
        {"repeat_offset_of_zero", sequences_block(none, rle_sequences(1, 0, 1, 0, backward({{1, 1}}))),
         sequences_error + "match offset 0"},
    };
}

class hostile : public ::testing::TestWithParam<hazard> {};

TEST_P(hostile, ends_in_its_message_in_both_modes) {
    const hazard& h = GetParam();
    EXPECT_EQ(failure_of([&] { decode_push(h.frames); }), h.message);
    EXPECT_EQ(failure_of([&] { decode_pull(h.frames); }), h.message);
}

INSTANTIATE_TEST_SUITE_P(frames, hostile, ::testing::ValuesIn(hazards()),
                         [](const ::testing::TestParamInfo<hazard>& info) { return std::string(info.param.name); });

TEST(decompressor, the_window_reaches_exactly_its_size_back) {
    // 1024 bytes of history in a 1 KiB window: offset 1024 is inside.
    const bytes frame =
        small_window_frame_start() + compressed(raw_literals({}) + rle_sequences(1, 0, 10, 0, backward({{3, 10}})));
    bytes expected(1027, 'w');
    EXPECT_EQ(decode_push(frame), expected);
}

}  // namespace
