// Array input, vector outputs and the block-buffered input.
#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/buffered_input.h"
#include "stream/random/vector_output.h"
#include "stream/vector_output.h"

namespace {

template <typename Call>
std::string stream_failure(Call call) {
    try {
        call();
    } catch (const stream::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "no exception";
}

TEST(array_input, empty_array_is_at_its_end) {
    stream::array_input in(nullptr, 0);
    char buffer[4];
    EXPECT_EQ(in.get(), -1);
    EXPECT_EQ(in.read(buffer, 4), 0u);
    EXPECT_EQ(in.skip(10), 0u);
    EXPECT_EQ(in.size(), 0u);
}

TEST(array_input, skip_stops_at_the_end_and_refuses_counts_beyond_32_bits) {
    stream::array_input in("abcde", 5);
    in.get();
    in.get();
    EXPECT_EQ(in.skip(10), 3u);
    stream::array_input again("abcde", 5);
    EXPECT_EQ(stream_failure([&] { again.skip(stream::size_type{1} << 32); }),
              "stream::array_input: cannot skip more than the maximum array size");
    EXPECT_EQ(again.position(), 0u);
}

TEST(vector_output, starting_inside_a_vector_overwrites_then_appends) {
    std::vector<std::uint8_t> v{'0', '1', '2', '3', '4'};
    stream::vector_output out(v, 2);
    out.write("abcde", 5);
    EXPECT_EQ(std::string(v.begin(), v.end()), "01abcde");
    out.put('!');
    EXPECT_EQ(v.size(), 8u);
    EXPECT_EQ(out.position(), 8u);
}

TEST(vector_output, resize_grows_with_zeros_and_refuses_to_shrink) {
    std::vector<std::uint8_t> v;
    stream::vector_output out(v);
    out.write("abcd", 4);
    out.resize(10);
    EXPECT_EQ(v, (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(stream_failure([&] { out.resize(3); }), "stream::vector_output: I do not truncate the stream");
    EXPECT_EQ(v.size(), 10u);
}

TEST(vector_output, copy_from_needs_a_known_size) {
    std::vector<std::uint8_t> v;
    stream::vector_output out(v);
    stream::array_input known("xyz", 3);
    out.copy_from(known);
    EXPECT_EQ(std::string(v.begin(), v.end()), "xyz");

    // A buffered input forwards its source's size; make one that is unknown.
    class unknown_size : public stream::array_input {
    public:
        using stream::array_input::array_input;
        stream::size_type size() override { return stream::unknown_size; }
    } unknown("abc", 3);
    EXPECT_EQ(stream_failure([&] { out.copy_from(unknown); }),
              "stream::vector_output: input stream is too large to copy into the vector");
}

TEST(random_vector_output, seeks_within_the_vector_and_shrinks) {
    std::vector<std::uint8_t> v;
    stream::random::vector_output out(v);
    out.write("hello", 5);
    out.seek(5);
    out.write("!", 1);
    out.seek(0);
    out.put('J');
    EXPECT_EQ(std::string(v.begin(), v.end()), "Jello!");
    EXPECT_EQ(stream_failure([&] { out.seek(7); }),
              "stream::random::vector_output: cannot seek past the end of the vector");
    EXPECT_EQ(stream_failure([&] { out.seek(stream::size_type{1} << 32); }),
              "stream::random::vector_output: cannot seek past the end of the vector");
    out.resize(2);
    EXPECT_EQ(out.size(), 2u);
}

// Records the length of every read the buffered input makes of its source.
class recording_input : public stream::array_input {
public:
    recording_input(const std::vector<std::uint8_t>& bytes)
        : stream::array_input(bytes.data(), static_cast<std::uint32_t>(bytes.size())) {}
    std::uint32_t read(void* buffer, std::uint32_t length) override {
        reads.push_back(length);
        return stream::array_input::read(buffer, length);
    }
    std::vector<std::uint32_t> reads;
};

std::vector<std::uint8_t> counting_bytes(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    return bytes;
}

TEST(buffered_input, large_reads_bypass_the_buffer_and_small_ones_fill_it) {
    auto bytes = counting_bytes(300000);
    recording_input source(bytes);
    stream::buffered_input in(source, 65536);
    std::vector<std::uint8_t> got(40000);
    ASSERT_EQ(in.read(got.data(), 40000), 40000u);
    EXPECT_EQ(source.reads, std::vector<std::uint32_t>{40000});
    ASSERT_EQ(in.read(got.data(), 100), 100u);
    EXPECT_EQ(source.reads, (std::vector<std::uint32_t>{40000, 65536}));
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100, bytes.begin() + 40000));
    EXPECT_EQ(in.position(), 40100u);
}

TEST(buffered_input, delivers_exactly_the_source_through_any_mix_of_calls) {
    auto bytes = counting_bytes(200000);
    stream::array_input source(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    stream::buffered_input in(source, 4096);
    std::vector<std::uint8_t> got;
    std::vector<std::uint8_t> piece(5000);
    std::size_t step = 0;
    while (true) {
        std::uint32_t want = static_cast<std::uint32_t>(1 + (step * 977) % 5000);
        if (step % 3 == 0) {
            int byte = in.get();
            if (byte < 0) break;
            got.push_back(static_cast<std::uint8_t>(byte));
        } else if (step % 7 == 0) {
            std::size_t before = in.position();
            std::size_t skipped = in.skip(want);
            got.insert(got.end(), bytes.begin() + before, bytes.begin() + before + skipped);
        } else {
            std::uint32_t n = in.read(piece.data(), want);
            if (n == 0) break;
            got.insert(got.end(), piece.begin(), piece.begin() + n);
        }
        ASSERT_EQ(in.position(), got.size());
        ++step;
    }
    EXPECT_EQ(got, bytes);
}

TEST(buffered_input, unget_steps_back_and_give_back_repositions_the_source) {
    auto bytes = counting_bytes(1000);
    stream::array_input source(bytes.data(), 1000);
    stream::buffered_input in(source, 256);
    in.skip(10);
    int byte = in.get();
    in.unget(byte);
    EXPECT_EQ(in.position(), 10u);
    EXPECT_EQ(in.get(), byte);
    std::uint8_t some[20];
    in.read(some, 20);
    in.unread(some, 20);
    in.unread("xyz", 3);  // more than was consumed from this block is still fine
    EXPECT_EQ(in.position(), 8u);
    EXPECT_EQ(in.get(), 'x');
    in.skip(2 + 20);
    in.give_back();
    EXPECT_EQ(source.position(), 31u);
    EXPECT_EQ(source.get(), bytes[31]);
}

// Hazard: after `unread` pushed back more than a block, the room left to
// fill was computed as block size minus count and wrapped round: a refill
// then asked its source for some 4 GiB into a buffer of a few bytes.
TEST(buffered_input, a_refill_with_a_whole_block_undelivered_is_refused) {
    const std::string text(64, 'x');
    stream::array_input source(text.data(), static_cast<std::uint32_t>(text.size()));
    stream::buffered_input in(source, 16);
    char first[8];
    ASSERT_EQ(in.read(first, sizeof first), 8u);
    const std::string pushed(24, 'p');
    in.unread(pushed.data(), static_cast<std::uint32_t>(pushed.size()));
    EXPECT_GE(in.available(), in.block_size());
    EXPECT_THROW(in.refill(), un::logic_error);
    // The bytes are all still there, in order.
    char back[24];
    ASSERT_EQ(in.read(back, sizeof back), 24u);
    EXPECT_EQ(std::string(back, sizeof back), pushed);
}

}  // namespace
