// SHA-1, HMAC-SHA1 and PBKDF2-HMAC-SHA1 against their published vectors,
// once per compression kernel, and the kernels against each other at every
// length and in pieces.
#include "crypto/sha1.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/hmac_sha1.h"
#include "tests/crypto/hex.h"

namespace {

using algorithm::crypto::hmac_sha1;
using algorithm::crypto::sha1;
using crypto_test::from_hex;
using crypto_test::to_hex;

std::string digest_of(const std::string& text) {
    sha1 hash;
    hash.update(text.data(), text.size());
    return to_hex(hash.finish());
}

// Runs a test body once per kernel this processor can run, restoring the
// chosen one afterwards.
class sha1_kernels : public ::testing::TestWithParam<sha1::implementation> {
protected:
    void SetUp() override {
        saved_ = sha1::active();
        if (!sha1::use(GetParam())) GTEST_SKIP() << "processor cannot run this kernel";
    }
    void TearDown() override { sha1::use(saved_); }

private:
    sha1::implementation saved_ = sha1::implementation::portable;
};

// FIPS 180's examples, the empty message, and messages whose padding does
// and does not fit in their last block.
TEST_P(sha1_kernels, published_digests) {
    EXPECT_EQ(digest_of(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(digest_of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(
        digest_of("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsm"
                  "nopqrstnopqrstu"),
        "a49b2446a02c645bf419f995b67091253a04a259");
    sha1 million;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.update(thousand.data(), thousand.size());
    EXPECT_EQ(to_hex(million.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Each kernel gives the portable kernel's digest for every length around
// the padding's cases and a few blocks, whole and fed in odd pieces.
TEST_P(sha1_kernels, agrees_with_the_portable_kernel_at_every_length_and_in_pieces) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> data(300 + 3);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t length = 0; length + offset <= data.size(); ++length) {
            const std::uint8_t* at = data.data() + offset;
            sha1::state reference = sha1::initial_state;
            std::vector<std::uint8_t> padded(at, at + length);
            padded.push_back(0x80);
            while (padded.size() % 64 != 56) padded.push_back(0);
            for (int shift = 56; shift >= 0; shift -= 8)
                padded.push_back(static_cast<std::uint8_t>(length * 8 >> shift));
            sha1::kernel(sha1::implementation::portable)(reference.data(), padded.data(), padded.size() / 64);

            sha1 pieces;
            for (std::size_t done = 0; done < length;) {
                const std::size_t piece = std::min<std::size_t>(length - done, random() % 90);
                pieces.update(at + done, piece);
                done += piece;
            }
            const sha1::digest got = pieces.finish();
            for (std::size_t i = 0; i < 5; ++i)
                EXPECT_EQ(std::uint32_t(got[4 * i]) << 24 | got[4 * i + 1] << 16 | got[4 * i + 2] << 8 | got[4 * i + 3],
                          reference[i])
                    << "length " << length << " offset " << offset;
        }
    }
}

// RFC 2202, section 3: keys shorter than, as long as and longer than a
// block, and data of one and of two blocks.
TEST_P(sha1_kernels, rfc_2202_hmac_vectors) {
    const struct {
        std::string key;
        std::string data;
        const char* code;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19",
         std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        hmac_sha1 mac(c.key.data(), c.key.size());
        mac.update(c.data.data(), c.data.size());
        EXPECT_EQ(to_hex(mac.finish()), c.code) << c.data;
        // finish starts the next message with the same key.
        mac.update(c.data.data(), c.data.size());
        EXPECT_EQ(to_hex(mac.finish()), c.code) << c.data << ", second message";
    }
}

struct pbkdf2_case {
    std::string passphrase;
    std::string salt;
    std::uint32_t iterations;
    const char* key;
};

std::string derived(const pbkdf2_case& c) {
    std::vector<std::uint8_t> key(std::string(c.key).size() / 2);
    algorithm::crypto::pbkdf2_hmac_sha1(c.passphrase, reinterpret_cast<const std::uint8_t*>(c.salt.data()),
                                        c.salt.size(), c.iterations, key.data(), key.size());
    return to_hex(key);
}

// RFC 6070: one and several iterations, a key longer than one digest that
// ends inside the second, and NUL bytes in passphrase and salt.
TEST_P(sha1_kernels, rfc_6070_pbkdf2_vectors) {
    const pbkdf2_case cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto& c : cases) EXPECT_EQ(derived(c), c.key) << c.passphrase << " " << c.iterations;
}

// RFC 6070's 16,777,216 iterations take seconds; run it with
// --gtest_also_run_disabled_tests.
TEST(pbkdf2_hmac_sha1, DISABLED_rfc_6070_sixteen_million_iterations) {
    EXPECT_EQ(derived({"password", "salt", 16777216, "eefe3d61cd4da4e4e9945b3d6ba2158c2634e984"}),
              "eefe3d61cd4da4e4e9945b3d6ba2158c2634e984");
}

INSTANTIATE_TEST_SUITE_P(each, sha1_kernels,
                         ::testing::Values(sha1::implementation::portable, sha1::implementation::sha_ni),
                         [](const auto& info) {
                             return info.param == sha1::implementation::portable ? "portable" : "sha_ni";
                         });

}  // namespace
