// The copy transform's block loop and the base transform's refusals.
#include "stream/transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"

namespace {

// An endless source that records its read lengths, for counts beyond what
// fits in memory.
class zeros_input : public stream::input {
public:
    explicit zeros_input(stream::size_type length) : left_(length) {}
    std::uint32_t read(void* buffer, std::uint32_t length) override {
        reads.push_back(length);
        std::uint32_t n = static_cast<std::uint32_t>(std::min<stream::size_type>(length, left_));
        std::memset(buffer, 0, n);
        left_ -= n;
        return n;
    }
    std::vector<std::uint32_t> reads;

protected:
    int do_get() override { return -1; }
    stream::size_type do_position() override { return 0; }

private:
    stream::size_type left_;
};

// Counts bytes and write calls without keeping them.
class counting_output : public stream::output {
public:
    using stream::output::write;
    void write(const void*, std::uint32_t length) override {
        ++writes;
        written += length;
    }
    void put(int) override { ++written; }
    stream::size_type position() override { return written; }
    stream::size_type written = 0;
    int writes = 0;
};

TEST(copy_transform, empty_input_makes_one_empty_write) {
    stream::array_input in(nullptr, 0);
    counting_output out;
    stream::copy_transform copy(65536);
    EXPECT_EQ(copy.process(in, out), 0u);
    EXPECT_EQ(out.writes, 1);
}

TEST(copy_transform, partial_copy_reads_whole_blocks_then_the_rest) {
    zeros_input in(1000000);
    counting_output out;
    stream::copy_transform copy(65536);
    EXPECT_EQ(copy.process(in, out, 100000), 100000u);
    EXPECT_EQ(in.reads, (std::vector<std::uint32_t>{65536, 34464}));
}

TEST(copy_transform, partial_copy_of_zero_makes_one_empty_read_and_write) {
    zeros_input in(10);
    counting_output out;
    stream::copy_transform copy(65536);
    EXPECT_EQ(copy.process(in, out, 0), 0u);
    EXPECT_EQ(in.reads, std::vector<std::uint32_t>{0});
    EXPECT_EQ(out.writes, 1);
}

TEST(copy_transform, counts_beyond_32_bits_are_copied_in_full) {
    const stream::size_type count = (stream::size_type{1} << 32) + 10;
    zeros_input in(count + 5);
    counting_output out;
    stream::copy_transform copy(1 << 20);
    EXPECT_EQ(copy.process(in, out, count), count);
    EXPECT_EQ(in.reads.back(), 10u);
}

TEST(copy_transform, stops_at_the_end_of_a_short_input) {
    stream::array_input in("abcdef", 6);
    std::vector<std::uint8_t> bytes;
    stream::vector_output out(bytes);
    stream::copy_transform copy(4);
    EXPECT_EQ(copy.process(in, out, 100), 6u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdef");
}

TEST(copy_transform, everything_means_full_processing) {
    stream::array_input in("abcdef", 6);
    counting_output out;
    stream::copy_transform copy(4);
    EXPECT_EQ(copy.process(in, out, stream::everything), 6u);
    EXPECT_EQ(out.writes, 3);  // 4, 2, and the final empty write
}

TEST(transform, base_refuses_both_kinds_of_processing_and_touches_nothing) {
    stream::transform plain;
    stream::array_input in("abc", 3);
    counting_output out;
    try {
        plain.process(in, out, 2);
        FAIL();
    } catch (const stream::exception& failure) {
        EXPECT_EQ(failure.message, "partial stream processing is not implemented");
        EXPECT_EQ(failure.where, "stream::transform");
    }
    try {
        plain.process(in, out);
        FAIL();
    } catch (const stream::exception& failure) {
        EXPECT_EQ(failure.message, "full stream processing is not implemented");
    }
    EXPECT_EQ(in.position(), 0u);
    EXPECT_EQ(out.written, 0u);
}

}  // namespace
