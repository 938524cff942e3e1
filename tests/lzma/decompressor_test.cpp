// The LZMA decompressor on hand-built streams: one row per hazard, with
// the exact failure it must end in (or the bytes it must give), both
// modes; where the source stands after `finish`; and long random streams
// through a small dictionary, so that the ring wraps under every kind of
// match.
#include "lzma/decompressor.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "lzma_helpers.h"

namespace {

using lzma_test::bytes;
using lzma_test::stream_case;
using lzma_test::writer;

constexpr std::uint64_t unknown = stream::unknown_size;

// The writer's stream, with `end_marker` and `size` as given, and its data.
struct built {
    stream_case stream;
    bytes data;
};

built build(writer w, std::uint64_t size, bool end_marker, std::uint32_t dictionary = 65536) {
    bytes data = w.data();
    bytes properties = w.properties(dictionary);
    return {{properties, size, end_marker, w.finish()}, data};
}

// Every kind of symbol: plain and matched literals, a new distance, the
// four repeats and the one-byte repeat.
writer every_symbol() {
    writer w;
    w.text("abcdefgh").match(4, 6).literal('x').match(8, 3).match(13, 2);
    w.rep(0, 5).rep(1, 4).rep(2, 3).rep(3, 7).short_rep().literal('y').rep(3, 273);
    return w;
}

struct hazard {
    const char* name;
    std::function<built()> make;
    const char* failure;  // empty where the stream must decode
};

const std::string decoder = "algorithm::lzma::decompressor: ";

const hazard hazards[] = {
    {"every_kind_of_symbol", [] { return build(every_symbol().marker(), unknown, true); }, ""},
    {"every_kind_of_symbol_with_the_size_and_no_marker",
     [] {
         writer w = every_symbol();
         return build(w, w.data().size(), false);
     },
     ""},
    {"zero_length_entry", [] { return build(writer(), 0, false); }, ""},
    {"zero_length_entry_with_marker", [] { return build(writer().marker(), 0, true); }, ""},
    {"zero_length_entry_with_marker_and_no_size", [] { return build(writer().marker(), unknown, true); }, ""},
    {"marker_right_at_the_declared_size", [] { return build(writer().text("abc").marker(), 3, false); }, ""},
    {"largest_context_sizes",
     [] { return build(writer(8, 4, 4).text("lc 8, lp 4 and pb 4").match(7, 40).rep(0, 3).marker(), unknown, true); },
     ""},
    {"no_context_bits", [] { return build(writer(0, 0, 0).text("zzzz zzzz").match(5, 9).marker(), unknown, true); },
     ""},
    {"match_at_the_end_of_the_dictionary",
     [] {
         writer w;
         for (int i = 0; i < 4100; ++i) w.literal(static_cast<std::uint8_t>(i * 7));
         return build(w.match(4096, 10), 4110, false, 4096);
     },
     ""},
    {"dictionary_declared_huge_for_a_small_entry",
     [] { return build(writer().text("tiny").marker(), 4, true, 0xFFFFFFFF); }, ""},
    {"bad_properties_byte",
     [] {
         built b = build(writer().text("a"), 1, false);
         b.stream.properties[0] = 225;
         return b;
     },
     "algorithm::lzma::properties: invalid properties byte"},
    {"dictionary_too_large_for_a_large_entry",
     [] { return build(writer(), std::uint64_t{1} << 28, false, (1u << 27) + 1); }, "dictionary too large"},
    {"dictionary_too_large_for_an_entry_of_unknown_size",
     [] { return build(writer().marker(), unknown, true, 0xFFFFFFFF); }, "dictionary too large"},
    {"unknown_size_without_marker", [] { return build(writer(), unknown, false); },
     "an unknown size needs the end marker"},
    {"first_byte_not_zero",
     [] {
         built b = build(writer().text("abc"), 3, false);
         b.stream.compressed[0] = 0x80;
         return b;
     },
     "first byte of the range coder data is not zero"},
    {"no_data_at_all",
     [] {
         built b = build(writer(), 0, false);
         b.stream.compressed.clear();
         return b;
     },
     "unexpected end of compressed data"},
    {"truncated_in_the_first_code",
     [] {
         built b = build(writer(), 0, false);
         b.stream.compressed.resize(4);
         return b;
     },
     "unexpected end of compressed data"},
    {"truncated_stream",
     [] {
         built b = build(every_symbol().marker(), unknown, true);
         b.stream.compressed.resize(b.stream.compressed.size() - 3);
         return b;
     },
     "unexpected end of compressed data"},
    {"missing_marker", [] { return build(writer().text("abc"), unknown, true); }, "unexpected end of compressed data"},
    {"distance_too_far_back", [] { return build(writer().literal('a').match(2, 3), 4, false); },
     "match distance beyond the decoded data"},
    {"distance_beyond_the_dictionary",
     [] {
         writer w;
         for (int i = 0; i < 4100; ++i) w.literal(static_cast<std::uint8_t>(i * 7));
         return build(w.match(4097, 10), 4110, false, 4096);
     },
     "match distance beyond the dictionary"},
    {"repeat_before_any_data", [] { return build(writer().rep(0, 2), 2, false); },
     "match distance beyond the decoded data"},
    {"one_byte_repeat_before_any_data", [] { return build(writer().short_rep(), 1, false); },
     "match distance beyond the decoded data"},
    {"marker_before_the_declared_size", [] { return build(writer().text("abc").marker(), 5, false); },
     "data shorter than the declared size"},
    {"literal_past_the_declared_size", [] { return build(writer().text("abc"), 2, false); },
     "data longer than the declared size"},
    {"literal_past_the_declared_size_before_the_marker", [] { return build(writer().text("abc").marker(), 2, true); },
     "data longer than the declared size"},
    {"match_past_the_declared_size", [] { return build(writer().text("ab").match(2, 4), 5, false); },
     "data longer than the declared size"},
    {"repeat_past_the_declared_size",
     [] { return build(writer().text("ab").match(2, 2).rep(0, 9).marker(), 12, true); },
     "data longer than the declared size"},
    {"one_byte_repeat_past_the_declared_size", [] { return build(writer().text("ab").short_rep(), 2, false); },
     "data longer than the declared size"},
    {"range_coder_not_finished_after_the_marker",
     [] {
         built b = build(writer().text("abc").marker(), unknown, true);
         b.stream.compressed.back() ^= 0x01;
         return b;
     },
     "range coder not finished at the end of the data"},
};

void PrintTo(const hazard& h, std::ostream* os) { *os << h.name; }

class hand_built : public ::testing::TestWithParam<hazard> {};

TEST_P(hand_built, decodes_or_fails_as_expected) {
    const hazard& h = GetParam();
    const built b = h.make();
    const std::string expected =
        *h.failure == 0 || std::string(h.failure).find(": ") != std::string::npos ? h.failure : decoder + h.failure;
    bytes pushed, pulled;
    EXPECT_EQ(lzma_test::failure_of([&] { pushed = lzma_test::decode_push(b.stream); }), expected) << "push";
    EXPECT_EQ(lzma_test::failure_of([&] { pulled = lzma_test::decode_pull(b.stream); }), expected) << "pull";
    if (expected.empty()) {
        EXPECT_EQ(pushed, b.data);
        EXPECT_EQ(pulled, b.data);
    }
}

INSTANTIATE_TEST_SUITE_P(hazards, hand_built, ::testing::ValuesIn(hazards),
                         [](const ::testing::TestParamInfo<hazard>& info) { return std::string(info.param.name); });

TEST(decompressor, finish_leaves_the_source_on_the_byte_after_the_data) {
    const bytes trailer = {'P', 'K', 7, 8, 1, 2, 3, 4};
    const built cases[] = {build(every_symbol().marker(), unknown, true),
                           build(every_symbol(), every_symbol().data().size(), false),
                           build(writer().marker(), 0, true), build(writer(), 0, false)};
    for (const built& b : cases) {
        stream_case followed = b.stream;
        followed.compressed.insert(followed.compressed.end(), trailer.begin(), trailer.end());
        std::uint64_t pushed_at = 0, pulled_at = 0;
        EXPECT_EQ(lzma_test::decode_push(followed, &pushed_at), b.data);
        EXPECT_EQ(lzma_test::decode_pull(followed, &pulled_at), b.data);
        EXPECT_EQ(pushed_at, b.stream.compressed.size());
        EXPECT_EQ(pulled_at, b.stream.compressed.size());
    }
}

TEST(decompressor, a_failed_decoder_refuses_to_go_on) {
    built b = build(writer().literal('a').match(2, 3), 4, false);
    stream::array_input source(b.stream.compressed.data(), static_cast<std::uint32_t>(b.stream.compressed.size()));
    algorithm::lzma::decompressor d(source, lzma_test::properties_of(b.stream), 4, false);
    EXPECT_THROW(d.get(), algorithm::exception);
    EXPECT_THROW(d.get(), un::logic_error);
}

// Random symbols of every kind, with lengths and distances over their
// whole ranges, through a 4 KiB dictionary: the ring wraps every few
// thousand bytes, under matches whose source wraps too. The four last
// distances start as 1, valid from the first byte on.
built random_stream(std::uint32_t seed, int lc, int lp, int pb, std::size_t size, bool end_marker) {
    std::mt19937 random(seed);
    writer w(lc, lp, pb);
    auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    while (w.data().size() < size) {
        const std::size_t have = w.data().size();
        const std::uint32_t room = static_cast<std::uint32_t>(std::min<std::size_t>(size - have, 273));
        const std::uint32_t kind = have == 0 || room < 2 ? 0 : pick(10);
        const std::uint32_t length = room < 2 ? 1 : 2 + (pick(4) == 0 ? pick(room - 1) : pick(std::min(room - 1, 8u)));
        const auto reach = static_cast<std::uint32_t>(std::min<std::size_t>(have, 4096));
        if (kind < 4) {
            w.literal(static_cast<std::uint8_t>(pick(4) == 0 ? pick(256) : 'a' + pick(4)));
        } else if (kind < 7) {
            w.match(pick(3) == 0 ? 1 + pick(reach) : 1 + pick(std::min(reach, 40u)), length);
        } else if (kind < 9) {
            w.rep(static_cast<int>(pick(4)), length);
        } else {
            w.short_rep();
        }
    }
    if (end_marker) w.marker();
    return build(w, end_marker && seed % 2 ? unknown : w.data().size(), end_marker, 4096);
}

TEST(decompressor, random_streams_through_a_wrapping_dictionary) {
    const int contexts[][3] = {{3, 0, 2}, {0, 4, 0}, {8, 0, 4}, {1, 3, 1}};
    for (std::uint32_t seed = 0; seed < 8; ++seed) {
        const int* c = contexts[seed % 4];
        const built b = random_stream(seed, c[0], c[1], c[2], 150000 + seed * 7919, seed % 3 != 0);
        ASSERT_EQ(lzma_test::decode_push(b.stream), b.data) << "seed " << seed;
        ASSERT_EQ(lzma_test::decode_pull(b.stream), b.data) << "seed " << seed;
    }
}

// Counts the calls it gets and keeps nothing.
class call_counting_output : public stream::output {
public:
    using stream::output::write;
    void write(const void*, std::uint32_t length) override {
        ++writes;
        total += length;
    }
    void put(int) override { ++puts; }
    stream::size_type position() override { return total; }
    std::uint64_t writes = 0, puts = 0, total = 0;
};

TEST(decompressor, output_goes_to_the_target_a_ring_at_a_time) {
    const built b = random_stream(3, 3, 0, 2, 200000, false);
    stream::array_input source(b.stream.compressed.data(), static_cast<std::uint32_t>(b.stream.compressed.size()));
    algorithm::lzma::decompressor d(source, lzma_test::properties_of(b.stream), b.stream.size, false);
    call_counting_output target;
    EXPECT_EQ(d.copy_to(target), b.data.size());
    EXPECT_EQ(target.total, b.data.size());
    EXPECT_EQ(target.puts, 0u);
    // A 4 KiB dictionary: one write per lap of its ring, and the rest.
    EXPECT_LE(target.writes, b.data.size() / 4096 + 1);
}

}  // namespace
