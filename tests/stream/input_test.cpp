// The base input's push-back buffer and default hooks, through a minimal
// source that only implements get, so every default is exercised.
#include "stream/input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"

namespace {

// Delivers the bytes of a string one `get` at a time.
class get_only_input : public stream::input {
public:
    explicit get_only_input(std::string text) : text_(std::move(text)) {}

protected:
    int do_get() override { return at_ < text_.size() ? static_cast<std::uint8_t>(text_[at_++]) : -1; }
    stream::size_type do_position() override { return at_; }

private:
    std::string text_;
    std::size_t at_ = 0;
};

std::string read_all(stream::input& in) {
    std::vector<std::uint8_t> bytes;
    stream::vector_output out(bytes);
    in.copy_to(out);
    return std::string(bytes.begin(), bytes.end());
}

TEST(input, the_end_is_reported_again_on_every_call) {
    get_only_input in("ab");
    char buffer[4];
    EXPECT_EQ(in.read(buffer, 4), 2u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(in.get(), -1);
        EXPECT_EQ(in.read(buffer, 4), 0u);
        EXPECT_EQ(in.skip(5), 0u);
    }
}

TEST(input, unread_restores_the_bytes_and_the_position) {
    get_only_input in("0123456789abcdef");
    char buffer[10];
    ASSERT_EQ(in.read(buffer, 3), 3u);
    ASSERT_EQ(in.read(buffer, 10), 10u);
    EXPECT_EQ(in.position(), 13u);
    in.unread(buffer, 10);
    EXPECT_EQ(in.position(), 3u);
    char again[10];
    ASSERT_EQ(in.read(again, 10), 10u);
    EXPECT_EQ(std::string(again, 10), "3456789abc");
    EXPECT_EQ(in.position(), 13u);
}

TEST(input, ungot_bytes_come_back_last_first) {
    get_only_input in("xyz");
    in.unget('a');
    in.unget('b');
    EXPECT_EQ(in.get(), 'b');
    EXPECT_EQ(in.get(), 'a');
    EXPECT_EQ(in.get(), 'x');
}

TEST(input, unread_into_a_partly_consumed_buffer_keeps_the_order) {
    get_only_input in("tail");
    in.unread("345", 3);
    EXPECT_EQ(in.get(), '3');  // buffer now holds "45" after its index
    in.unread("12", 2);        // longer than the index: the buffer is rebuilt
    EXPECT_EQ(read_all(in), "1245tail");
}

TEST(input, unread_then_read_across_the_buffer_and_the_source) {
    get_only_input in("cdef");
    in.unread("ab", 2);
    char buffer[5];
    ASSERT_EQ(in.read(buffer, 5), 5u);
    EXPECT_EQ(std::string(buffer, 5), "abcde");
    EXPECT_EQ(in.position(), 3u);
}

TEST(input, skip_counts_what_was_there) {
    get_only_input in("0123456789");
    EXPECT_EQ(in.skip(0), 0u);
    EXPECT_EQ(in.position(), 0u);
    in.unread("ab", 2);
    EXPECT_EQ(in.skip(4), 4u);  // "ab" then "01"
    EXPECT_EQ(in.get(), '2');
    EXPECT_EQ(in.skip(100), 7u);
}

TEST(input, copy_to_writes_pushed_back_bytes_first) {
    get_only_input in(std::string(40000, 'z'));
    in.unread("head", 4);
    std::string all = read_all(in);
    EXPECT_EQ(all.size(), 40004u);
    EXPECT_EQ(all.substr(0, 5), "headz");
}

// Counts writes and puts to see which path an operation took.
class counting_output : public stream::output {
public:
    using stream::output::write;
    void write(const void* bytes, std::uint32_t length) override {
        ++writes;
        stream::output::write(bytes, length);
    }
    void put(int byte) override { text += static_cast<char>(byte); }
    stream::size_type position() override { return text.size(); }

    std::string text;
    int writes = 0;
};

TEST(output, resize_extends_with_zeros_and_never_truncates) {
    counting_output out;
    out.write("abc", 3);
    out.resize(3);
    EXPECT_EQ(out.text, "abc");
    out.resize(5);
    EXPECT_EQ(out.text, std::string("abc\0\0", 5));
    try {
        out.resize(2);
        FAIL() << "resize to a smaller size must throw";
    } catch (const stream::exception& failure) {
        EXPECT_EQ(failure.message, "resize() does not truncate the stream");
        EXPECT_EQ(failure.where, "stream::output");
    }
    EXPECT_EQ(out.text.size(), 5u);
}

TEST(output, defaults_go_through_put) {
    counting_output out;
    out.write(std::string("hi"));
    out.write(nullptr, 3);
    out.fill(2, '!');
    stream::array_input in("+-", 2);
    out.copy_from(in);
    EXPECT_EQ(out.text, "hi!!+-");
}

}  // namespace
