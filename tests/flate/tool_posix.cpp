// quillon-inflate from the outside: push and pull mode decode a zlib
// stream to standard output; a damaged stream ends with the display text
// on standard error and exit code 2.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The tool lies next to the test program, in <build>/bin.
std::string tool() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return self.substr(0, self.rfind('/') + 1) + "quillon-inflate";
}

std::string raw_deflate(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct run_result {
    int status;
    std::string output;
};

run_result run(const std::string& arguments, const std::string& input) {
    // Tests may run in parallel processes: one pair of files per process.
    std::string stem = testing::TempDir() + "quillon-inflate-" + std::to_string(getpid());
    std::string in_path = stem + "-in";
    std::string err_path = stem + "-err";
    std::ofstream(in_path, std::ios::binary) << input;
    std::string command = tool() + " " + arguments + " < " + in_path + " 2> " + err_path;
    run_result result{};
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(err_path);
    std::string line;
    std::getline(err, line);
    if (result.status != 0) result.output = line;
    std::remove(in_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

TEST(quillon_inflate, decodes_in_push_and_pull_mode) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    std::string compressed = raw_deflate(text);
    run_result push = run("", compressed);
    EXPECT_EQ(push.status, 0);
    EXPECT_TRUE(push.output == text);
    run_result pull = run("-p", compressed);
    EXPECT_EQ(pull.status, 0);
    EXPECT_TRUE(pull.output == text);
}

TEST(quillon_inflate, damaged_stream_prints_the_display_text_and_exits_2) {
    std::string compressed = raw_deflate(std::string(100000, 'x') + "end");
    run_result cut = run("", compressed.substr(0, compressed.size() / 2));
    EXPECT_EQ(cut.status, 2);
    EXPECT_EQ(cut.output, "algorithm::flate::decompressor exception: unexpected end of compressed data.");
    run_result extent = run("-e 9", compressed);
    EXPECT_EQ(extent.status, 2);
    EXPECT_EQ(extent.output, "algorithm::flate::decompressor exception: bad compression extent.");
}

}  // namespace
