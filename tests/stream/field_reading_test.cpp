// Exact-amount reading, little-endian fields, length limits and progress.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/endian_input.h"
#include "stream/limited_input.h"
#include "stream/progress_input.h"
#include "stream/safe_input.h"

namespace {

std::string end_of_file_failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const stream::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "no exception";
}

const std::string unexpected_end = "stream::safe_input: unexpected end of file";

// A source that delivers one byte per read, as pipes and filters may.
class trickling_input : public stream::array_input {
public:
    using stream::array_input::array_input;

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override {
        return stream::array_input::do_read(buffer, length < 1 ? length : 1);
    }
    stream::size_type do_skip(stream::size_type count) override {
        return stream::array_input::do_skip(count < 1 ? count : 1);
    }
};

// Hazard: a short read before the end is allowed by the input contract;
// taking it for the end of the file would refuse good archives read
// through such a source.
TEST(safe_input, short_reads_before_the_end_are_continued) {
    trickling_input source("abcdef", 6);
    stream::safe_input in(source);
    char buffer[4];
    ASSERT_EQ(in.read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(in.skip(1), 1u);
    EXPECT_EQ(in.get(), 'f');
    EXPECT_EQ(end_of_file_failure([&] { in.read(buffer, 1); }), unexpected_end);

    trickling_input again("abc", 3);
    stream::safe_input skipping(again);
    EXPECT_EQ(end_of_file_failure([&] { skipping.skip(4); }), unexpected_end);
}

TEST(safe_input, every_short_read_is_an_error) {
    stream::array_input three("abc", 3);
    stream::safe_input in(three);
    char buffer[4];
    EXPECT_EQ(end_of_file_failure([&] { in.read(buffer, 4); }), unexpected_end);

    stream::array_input again("abc", 3);
    stream::safe_input gets(again);
    gets.get(), gets.get(), gets.get();
    EXPECT_EQ(end_of_file_failure([&] { gets.get(); }), unexpected_end);

    stream::array_input skips("abc", 3);
    stream::safe_input skipping(skips);
    EXPECT_EQ(skipping.skip(3), 3u);
    EXPECT_EQ(end_of_file_failure([&] { skipping.skip(1); }), unexpected_end);
}

TEST(little_endian_input, fields_are_least_significant_byte_first) {
    const std::uint8_t bytes[] = {0x34, 0x12, 0xAA, 0xBB, 0xCC, 0x78, 0x56, 0x34, 0x12,
                                  1,    2,    3,    4,    5,    6,    7,    0x88, 0x99};
    stream::array_input source(bytes, sizeof bytes);
    stream::little_endian_input in(source);
    EXPECT_EQ(in.read_u16(), 0x1234u);
    EXPECT_EQ(in.read_u24(), 0xCCBBAAu);
    EXPECT_EQ(in.read_u32(), 0x12345678u);
    EXPECT_EQ(in.read_u64(), 0x8807060504030201ull);
    EXPECT_EQ(in.read_u8(), 0x99);
    EXPECT_EQ(in.read_u8(), -1);
}

TEST(little_endian_input, on_a_safe_input_a_short_field_fails) {
    const std::uint8_t bytes[] = {1, 2, 3};
    stream::array_input source(bytes, sizeof bytes);
    stream::safe_input safe(source);
    stream::little_endian_input in(safe);
    EXPECT_EQ(in.read_u16(), 0x0201u);
    EXPECT_EQ(end_of_file_failure([&] { in.read_u16(); }), unexpected_end);
}

TEST(limited_input, delivers_at_most_its_limit) {
    std::vector<std::uint8_t> bytes(100);
    for (int i = 0; i < 100; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    stream::array_input source(bytes.data(), 100);
    stream::limited_input in(source, 10);
    std::uint8_t buffer[50];
    EXPECT_EQ(in.read(buffer, 50), 10u);
    EXPECT_EQ(in.get(), -1);
    in.unget(9);
    EXPECT_EQ(in.get(), 9);
    EXPECT_EQ(in.size(), 10u);
    EXPECT_EQ(in.skip(5), 0u);
    EXPECT_EQ(in.position(), 10u);  // the source's position
}

class recording_sink : public format::progress_sink {
public:
    void progress(std::uint64_t position) override { reports.push_back(position); }
    std::vector<std::uint64_t> reports;
};

TEST(progress_input, reports_once_per_read_after_each_interval_and_once_at_finish) {
    std::vector<std::uint8_t> bytes(100000);
    stream::array_input source(bytes.data(), 100000);
    recording_sink sink;
    stream::progress_input in(source, &sink, 1000, 32768);
    std::vector<std::uint8_t> buffer(40000);
    in.read(buffer.data(), 40000);
    EXPECT_EQ(sink.reports, std::vector<std::uint64_t>{41000});
    in.finish();
    in.finish();
    EXPECT_EQ(sink.reports, (std::vector<std::uint64_t>{41000, 41000}));
}

TEST(progress_input, byte_reads_report_at_the_interval) {
    std::vector<std::uint8_t> bytes(40000);
    stream::array_input source(bytes.data(), 40000);
    recording_sink sink;
    stream::progress_input in(source, &sink, 1000, 32768);
    while (in.get() >= 0) {
    }
    EXPECT_EQ(sink.reports, std::vector<std::uint64_t>{33768});
    EXPECT_EQ(in.position(), 41000u);
}

TEST(progress_input, a_null_sink_only_counts) {
    std::vector<std::uint8_t> bytes(70000);
    stream::array_input source(bytes.data(), 70000);
    stream::progress_input in(source, nullptr, 0, 32768);
    std::vector<std::uint8_t> buffer(70000);
    EXPECT_EQ(in.read(buffer.data(), 70000), 70000u);
    in.finish();
    EXPECT_EQ(in.position(), 70000u);
}

}  // namespace
