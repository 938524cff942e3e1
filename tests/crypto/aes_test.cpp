// AES: the block function against FIPS-197 and SP 800-38A, the WinZip
// counter stream of every kernel against known keystreams and against the
// block function, whole and in pieces of odd lengths at every alignment.
#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "tests/crypto/hex.h"

namespace {

using algorithm::crypto::aes;
using algorithm::crypto::aes_ctr;
using crypto_test::from_hex;
using crypto_test::to_hex;

std::string encrypted_block(const std::string& key_hex, const std::string& plain_hex) {
    const auto key = from_hex(key_hex);
    const aes cipher(key.data(), key.size());
    auto block = from_hex(plain_hex);
    cipher.encrypt_block(block.data(), block.data());
    return to_hex(block);
}

// FIPS-197, Appendix C: one plaintext under the keys 00 01 02 ... of each
// length.
TEST(aes, fips_197_example_vectors) {
    const struct {
        const char* key;
        const char* cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& c : cases) EXPECT_EQ(encrypted_block(c.key, "00112233445566778899aabbccddeeff"), c.cipher);
}

// SP 800-38A, F.5.1 and F.5.5: CTR-AES128 and CTR-AES256 with the
// big-endian counter blocks written out; ciphertext = E(counter) XOR plain.
TEST(aes, sp_800_38a_counter_mode_blocks) {
    const char* counters[] = {"f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", "f0f1f2f3f4f5f6f7f8f9fafbfcfdff00",
                              "f0f1f2f3f4f5f6f7f8f9fafbfcfdff01", "f0f1f2f3f4f5f6f7f8f9fafbfcfdff02"};
    const char* plain[] = {"6bc1bee22e409f96e93d7e117393172a", "ae2d8a571e03ac9c9eb76fac45af8e51",
                           "30c81c46a35ce411e5fbc1191a0a52ef", "f69f2445df4f9b17ad2b417be66c3710"};
    const struct {
        const char* key;
        const char* cipher[4];
    } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         {"874d6191b620e3261bef6864990db6ce", "9806f66b7970fdff8617187bb9fffdff", "5ae4df3edbd5d35e5b4f09020db03eab",
          "1e031dda2fbe03d1792170a0f3009cee"}},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         {"601ec313775789a5b7a7f504bbf3d228", "f443e3ca4d62b59aca84e990cacaf5c5", "2b0930daa23de94ce87017ba2d84988d",
          "dfc9c58db67aada613c2dd08457941a6"}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 4; ++i) {
            auto stream = from_hex(encrypted_block(c.key, counters[i]));
            const auto text = from_hex(plain[i]);
            for (std::size_t j = 0; j < stream.size(); ++j) stream[j] ^= text[j];
            EXPECT_EQ(to_hex(stream), c.cipher[i]) << c.key << " block " << i;
        }
    }
}

TEST(aes, keys_of_other_lengths_are_a_logic_error) {
    const std::uint8_t key[33] = {};
    for (std::size_t length : {0u, 15u, 17u, 20u, 31u, 33u}) {
        try {
            aes cipher(key, length);
            ADD_FAILURE() << length << " bytes accepted";
        } catch (const un::logic_error& e) {
            EXPECT_STREQ(e.where, "algorithm::crypto::aes");
        }
    }
}

// Runs a test body once per kernel this processor can run, restoring the
// chosen one afterwards.
class aes_kernels : public ::testing::TestWithParam<aes::implementation> {
protected:
    void SetUp() override {
        saved_ = aes::active();
        if (!aes::use(GetParam())) GTEST_SKIP() << "processor cannot run this kernel";
    }
    void TearDown() override { aes::use(saved_); }

private:
    aes::implementation saved_ = aes::implementation::portable;
};

// The keystream is the counter mode applied to zeros.
std::string keystream(const std::vector<std::uint8_t>& key, std::uint64_t first, std::size_t length) {
    const aes cipher(key.data(), key.size());
    aes_ctr counter(cipher, first);
    std::vector<std::uint8_t> bytes(length);
    counter.apply(bytes.data(), bytes.size());
    return to_hex(bytes);
}

// Computed separately, with AES-ECB over little-endian counter blocks. The
// last case crosses 2^32, where the counter's low word carries.
TEST_P(aes_kernels, winzip_keystreams) {
    const struct {
        std::size_t key_length;
        std::uint64_t first;
        const char* stream;
    } cases[] = {
        {16, 1, "e37cd363dd7c87a09aff0e3e60e09c82fb8ae31ba5db9cad97364d8722d47326"},
        {24, 1, "094a723ceaf7f7b732e05b90d35b8cf1a8fd516dfc09cbb9b38b8527ff25bbe4"},
        {32, 0xFFFFFFFF, "1a4452e636f1368c12aebea3056b07309baf50855c76e5b35f617a45385b08c9"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> key(c.key_length);
        for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(keystream(key, c.first, 32), c.stream) << c.key_length << " bytes";
    }
}

// Every length from 0 to past two wide rounds of the AES-NI kernel, at
// every alignment, whole and in pieces of odd lengths, against the block
// function applied to each counter block.
TEST_P(aes_kernels, pieces_at_any_alignment_give_the_stream_of_the_block_function) {
    std::mt19937 random(11);
    std::vector<std::uint8_t> key(32);
    for (auto& b : key) b = static_cast<std::uint8_t>(random());
    for (std::size_t key_length : {16u, 24u, 32u}) {
        const aes cipher(key.data(), key_length);
        constexpr std::size_t longest = 16 * 17 + 5;
        std::vector<std::uint8_t> expected(longest);
        for (std::size_t block = 0; block * 16 < longest; ++block) {
            std::uint8_t counter[16] = {static_cast<std::uint8_t>(block + 1)};
            cipher.encrypt_block(counter, counter);
            for (std::size_t i = 0; i < 16 && block * 16 + i < longest; ++i) expected[block * 16 + i] = counter[i];
        }
        std::vector<std::uint8_t> buffer(longest + 16);
        for (std::size_t offset = 0; offset < 16; ++offset) {
            for (std::size_t length = 0; length <= longest; length += 1 + length / 7) {
                std::uint8_t* at = buffer.data() + offset;
                std::fill(at, at + length, 0);
                aes_ctr whole(cipher);
                whole.apply(at, length);
                EXPECT_TRUE(std::equal(at, at + length, expected.begin())) << "whole " << length;

                std::fill(at, at + length, 0);
                aes_ctr pieces(cipher);
                for (std::size_t done = 0; done < length;) {
                    const std::size_t piece = std::min<std::size_t>(length - done, random() % 40);
                    pieces.apply(at + done, piece);
                    done += piece;
                }
                EXPECT_TRUE(std::equal(at, at + length, expected.begin()))
                    << "pieces " << length << " offset " << offset << " key " << key_length;
            }
        }
    }
}

TEST_P(aes_kernels, restart_begins_the_stream_again) {
    const std::vector<std::uint8_t> key(16, 7);
    const aes cipher(key.data(), key.size());
    aes_ctr counter(cipher);
    std::uint8_t first[21] = {}, again[21] = {};
    counter.apply(first, sizeof first);
    counter.restart();
    counter.apply(again, sizeof again);
    EXPECT_EQ(to_hex(first, sizeof first), to_hex(again, sizeof again));
}

INSTANTIATE_TEST_SUITE_P(each, aes_kernels,
                         ::testing::Values(aes::implementation::portable, aes::implementation::aes_ni),
                         [](const auto& info) {
                             return info.param == aes::implementation::portable ? "portable" : "aes_ni";
                         });

}  // namespace
