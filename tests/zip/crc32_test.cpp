// CRC-32: known answers for every kernel, and agreement between the kernels
// at every length and alignment the folding path splits on.
#include "zip/checksum/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stream/vector_output.h"
#include "zip/checksum/crc_table.h"
#include "zip/checksum/digesting_output.h"

namespace {

using algorithm::crc32;

std::uint32_t crc_of(const std::string& text) {
    crc32 crc;
    crc.update(text.data(), text.size());
    crc.finish();
    return crc.value();
}

// Runs a test body once per kernel this processor can run, restoring the
// chosen one afterwards.
class crc32_kernels : public ::testing::TestWithParam<crc32::implementation> {
protected:
    void SetUp() override {
        saved_ = crc32::active();
        if (!crc32::use(GetParam())) GTEST_SKIP() << "processor cannot run this kernel";
    }
    void TearDown() override { crc32::use(saved_); }

private:
    crc32::implementation saved_ = crc32::implementation::portable;
};

TEST(crc_table, matches_the_published_entries) {
    EXPECT_EQ(algorithm::crc_table[0], 0u);
    EXPECT_EQ(algorithm::crc_table[1], 0x77073096u);
    EXPECT_EQ(algorithm::crc_table[128], 0xEDB88320u);
    EXPECT_EQ(algorithm::crc_table[255], 0x2D02EF8Du);
}

TEST_P(crc32_kernels, known_answers) {
    EXPECT_EQ(crc_of(""), 0u);
    EXPECT_EQ(crc_of("abc"), 0x352441C2u);
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(crc_of(std::string(1 << 20, '\0')), 0xA738EA1Cu);
}

TEST_P(crc32_kernels, agrees_with_the_byte_table_at_every_length_and_alignment) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> data(4096 + 64);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 127u, 128u, 200u, 1000u, 4096u}) {
            std::uint32_t expected = 0xFFFFFFFF;
            for (std::size_t i = 0; i < length; ++i) expected = algorithm::crc_step(expected, data[offset + i]);
            EXPECT_EQ(crc32::advance(0xFFFFFFFF, data.data() + offset, length), expected)
                << "offset " << offset << " length " << length;
        }
    }
}

TEST_P(crc32_kernels, pieces_give_the_same_value_as_the_whole) {
    std::vector<std::uint8_t> data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    crc32 whole;
    whole.update(data.data(), data.size());
    whole.finish();

    crc32 pieces;
    std::size_t at = 0;
    for (std::size_t piece : {1u, 7u, 65536u}) {
        pieces.update(data.data() + at, piece);
        at += piece;
    }
    for (; at < data.size(); ++at) pieces.update(data[at]);
    pieces.finish();
    EXPECT_EQ(pieces.value(), whole.value());
}

INSTANTIATE_TEST_SUITE_P(each, crc32_kernels,
                         ::testing::Values(crc32::implementation::portable, crc32::implementation::folding),
                         [](const auto& info) {
                             return info.param == crc32::implementation::portable ? "portable" : "folding";
                         });

TEST(crc32, finish_twice_is_finish_once_and_fills_the_digest_bytes) {
    crc32 crc;
    crc.update("123456789", 9);
    crc.finish();
    crc.finish();
    EXPECT_EQ(crc.value(), 0xCBF43926u);
    EXPECT_EQ(crc.bytes(), (std::vector<std::uint8_t>{0xCB, 0xF4, 0x39, 0x26}));
    crc.reset();
    crc.update("abc", 3);
    crc.finish();
    EXPECT_EQ(crc.value(), 0x352441C2u);
}

TEST(digesting_output, digests_every_write_put_and_fill_and_passes_them_on) {
    std::vector<std::uint8_t> written;
    stream::vector_output sink(written);
    crc32 crc;
    stream::digesting_output out(sink, crc);
    out.write("12345", 5);
    out.put('6');
    out.write(nullptr, 0);
    out.write("789", 3);
    out.fill(3, 'x');
    crc.finish();
    EXPECT_EQ(std::string(written.begin(), written.end()), "123456789xxx");
    EXPECT_EQ(crc.value(), crc_of("123456789xxx"));
    EXPECT_EQ(out.position(), 12u);
    EXPECT_EQ(out.size(), 12u);
}

}  // namespace
