// Streams over forks: reading the file through the stream contract,
// writing it, and leaving the fork open.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/file.h"
#include "stream/fork_input.h"
#include "stream/fork_output.h"
#include "stream/vector_output.h"
#include "tests/support/scratch_folder.h"

namespace {

using quillon_test::scratch_folder;

TEST(fork_input, reads_gets_and_ends_like_every_input) {
    scratch_folder scratch;
    scratch.write("in", "abcdef");
    io::file file(scratch.path("in"));
    file.data_fork().open();
    stream::fork_input input(file.data_fork());
    EXPECT_EQ(input.size(), 6u);
    EXPECT_EQ(input.get(), 'a');
    char buffer[8];
    EXPECT_EQ(input.read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "bcd");
    EXPECT_EQ(input.read(nullptr, 0), 0u);
    EXPECT_EQ(input.read(buffer, 8), 2u);
    EXPECT_EQ(input.read(buffer, 8), 0u);
    EXPECT_EQ(input.get(), -1);
    EXPECT_EQ(input.get(), -1);
    EXPECT_EQ(input.position(), 6u);
    file.data_fork().close();
}

TEST(fork_input, unget_and_skip_move_the_fork) {
    scratch_folder scratch;
    scratch.write("in", "0123456789");
    io::file file(scratch.path("in"));
    file.data_fork().open();
    stream::fork_input input(file.data_fork());
    EXPECT_EQ(input.get(), '0');
    input.unget('0');
    EXPECT_EQ(file.data_fork().position(), 0u);
    EXPECT_EQ(input.get(), '0');
    EXPECT_EQ(input.skip(4), 4u);
    EXPECT_EQ(input.get(), '5');
    char buffer[3];
    input.read(buffer, 3);
    input.unread(buffer, 3);
    EXPECT_EQ(input.get(), '6');
    EXPECT_EQ(input.skip(100), 3u);  // stops at the size
    EXPECT_EQ(input.position(), 10u);
    input.seek(2);
    EXPECT_EQ(input.get(), '2');
    file.data_fork().close();
}

TEST(fork_input, copies_everything_that_is_left) {
    scratch_folder scratch;
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 256);
    scratch.write("big", content);
    io::file file(scratch.path("big"));
    file.data_fork().open();
    stream::fork_input input(file.data_fork());
    input.skip(10);
    std::vector<std::uint8_t> bytes;
    stream::vector_output copy(bytes);
    EXPECT_EQ(input.copy_to(copy), content.size() - 10);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content.substr(10));
    file.data_fork().close();
}

// Reading ahead changes no byte read: seeks back and forth, reads across
// the end of the block, reads longer than it, and the file's end.
TEST(fork_input, reading_ahead_reads_the_same_bytes) {
    struct step {
        std::uint64_t seek;  // where to read
        std::uint32_t length;
    };
    const std::vector<step> steps = {
        {0, 3},    {3, 5},     {30, 4},  {2, 40},    // within the block, then across its end
        {100, 1},  {64, 200},  {0, 16},  {990, 20},  // longer than the block, back to the start, the end
        {1000, 4}, {10, 1000}, {999, 1}, {500, 0},
    };
    std::string content;
    for (int at = 0; at < 1000; ++at) content += static_cast<char>('a' + at * 7 % 26);
    scratch_folder scratch;
    scratch.write("in", content);
    io::file file(scratch.path("in"));
    file.data_fork().open();
    stream::fork_input input(file.data_fork());
    input.read_ahead(32);
    for (const step& s : steps) {
        input.seek(s.seek);
        std::string got(s.length, '\0');
        const std::uint32_t done = input.read(&got[0], s.length);
        got.resize(done);
        EXPECT_EQ(got, content.substr(std::min<std::size_t>(s.seek, content.size()), s.length)) << s.seek;
        EXPECT_EQ(input.position(), s.seek + done);
    }
    input.seek(31);
    EXPECT_EQ(input.get(), content[31]);
    EXPECT_EQ(input.get(), content[32]);
    file.data_fork().close();
}

TEST(fork_output, writes_puts_fills_and_truncates) {
    scratch_folder scratch;
    io::file file(scratch.path("out"));
    file.create(false);
    {
        stream::fork_output output(file.data_fork());
        output.write(std::string("head"));
        output.put('-');
        output.write("body", 4);
        output.write(nullptr, 4);
        output.fill(3, '.');
        EXPECT_EQ(output.position(), 12u);
        EXPECT_EQ(output.size(), 12u);
        output.resize(9);  // shrinks
        EXPECT_EQ(output.size(), 9u);
        output.seek(9);
        output.put('!');
        output.resize(12);
        output.seek(0);
        output.put('H');
        output.flush();
    }
    // The output is gone, the fork still open.
    EXPECT_TRUE(file.data_fork().is_open());
    file.data_fork().close();
    EXPECT_EQ(scratch.read("out"), std::string("Head-body!\0\0", 12));
}

TEST(fork_input, a_destroyed_input_leaves_the_fork_open) {
    scratch_folder scratch;
    scratch.write("in", "xyz");
    io::file file(scratch.path("in"));
    file.data_fork().open();
    { stream::fork_input input(file.data_fork()); }
    EXPECT_TRUE(file.data_fork().is_open());
    EXPECT_EQ(file.data_fork().size(), 3u);
    file.data_fork().close();
}

}  // namespace
