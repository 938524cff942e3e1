// Traditional decryption: the key schedule against an independent
// computation, the decrypting input's bookkeeping and the check byte.
#include <gtest/gtest.h>

#include <string>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "tests/zip/zip_bytes.h"
#include "zip/decrypting_input.h"
#include "zip/encryption_header.h"
#include "zip/traditional_cipher.h"

namespace {

using format::zip::traditional_cipher;

std::string encrypted(const std::string& passphrase, std::string plain) {
    traditional_cipher cipher;
    cipher.passphrase = passphrase;
    cipher.reset();
    cipher.encrypt(reinterpret_cast<std::uint8_t*>(plain.data()), static_cast<std::uint32_t>(plain.size()));
    return plain;
}

TEST(traditional_cipher, an_empty_passphrase_leaves_the_initial_keys) {
    traditional_cipher cipher;
    cipher.reset();
    EXPECT_EQ(cipher.key(0), 0x12345678u);
    EXPECT_EQ(cipher.key(1), 0x23456789u);
    EXPECT_EQ(cipher.key(2), 0x34567890u);
}

// Values computed with a separate implementation of the published algorithm.
TEST(traditional_cipher, keys_and_keystream_match_the_published_algorithm) {
    traditional_cipher cipher;
    cipher.passphrase = "secret";
    cipher.reset();
    EXPECT_EQ(cipher.key(0), 0xdda9e469u);
    EXPECT_EQ(cipher.key(1), 0x96212999u);
    EXPECT_EQ(cipher.key(2), 0xf9fc9651u);
    const std::string expected = "\x80\x75\xf6\x32\x20\x4d\xe8\xa8\x4f\xf7\xbb\x3f";
    EXPECT_EQ(encrypted("secret", "Hello, world"), expected);
}

TEST(traditional_cipher, decrypt_undoes_encrypt_and_both_leave_the_same_keys) {
    std::string text = "The same bytes come back, and both sides end in step.";
    traditional_cipher a, b;
    a.passphrase = b.passphrase = "pw";
    a.reset();
    b.reset();
    std::string scrambled = text;
    a.encrypt(reinterpret_cast<std::uint8_t*>(scrambled.data()), static_cast<std::uint32_t>(scrambled.size()));
    EXPECT_NE(scrambled, text);
    b.decrypt(reinterpret_cast<std::uint8_t*>(scrambled.data()), static_cast<std::uint32_t>(scrambled.size()));
    EXPECT_EQ(scrambled, text);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(a.key(i), b.key(i));
}

TEST(decrypting_input, skipping_keeps_the_keys_in_step_with_the_source) {
    const std::string plain = "0123456789abcdefghij";
    const std::string secret = encrypted("k", plain);

    traditional_cipher cipher;
    cipher.passphrase = "k";
    cipher.reset();
    stream::array_input source(secret.data(), static_cast<std::uint32_t>(secret.size()));
    stream::decrypting_input in(source, cipher);
    EXPECT_EQ(in.skip(5), 5u);
    EXPECT_EQ(in.get(), '5');
    char rest[32];
    ASSERT_EQ(in.read(rest, 32), 14u);
    EXPECT_EQ(std::string(rest, 14), plain.substr(6));
    EXPECT_EQ(in.get(), -1);
    EXPECT_EQ(in.skip(3), 0u);
}

TEST(decrypting_input, pushed_back_bytes_stay_decrypted_here) {
    const std::string secret = encrypted("k", "abcdef");
    traditional_cipher cipher;
    cipher.passphrase = "k";
    cipher.reset();
    stream::array_input source(secret.data(), 6);
    stream::decrypting_input in(source, cipher);
    char got[4];
    ASSERT_EQ(in.read(got, 4), 4u);
    in.unread(got + 2, 2);
    EXPECT_EQ(in.position(), 2u);
    EXPECT_EQ(source.position(), 4u);
    EXPECT_EQ(in.get(), 'c');
    EXPECT_EQ(in.get(), 'd');
    EXPECT_EQ(in.get(), 'e');
}

// 11 bytes that only advance the keys, then the check byte.
std::string header_for(const std::string& passphrase, std::uint8_t check) {
    std::string plain = "elevenbytes";
    plain += static_cast<char>(check);
    return encrypted(passphrase, plain);
}

TEST(encryption_header, the_right_passphrase_passes_and_keys_the_cipher_for_the_data) {
    const std::string stream = encrypted("pw", std::string("elevenbytes\x5A", 12) + "payload");
    traditional_cipher cipher;
    cipher.passphrase = "pw";
    cipher.reset();
    format::zip::encryption_header header(cipher);
    header.enabled = true;
    header.check_byte = 0x5A;
    stream::array_input source(stream.data(), static_cast<std::uint32_t>(stream.size()));
    EXPECT_EQ(header.read(source, true), 12u);
    EXPECT_TRUE(header.valid());
    EXPECT_EQ(source.position(), 12u);
    stream::decrypting_input data(source, cipher);
    char payload[7];
    ASSERT_EQ(data.read(payload, 7), 7u);
    EXPECT_EQ(std::string(payload, 7), "payload");
}

TEST(encryption_header, a_wrong_check_byte_is_a_bad_passphrase) {
    const std::string bytes = header_for("right", 0x11);
    traditional_cipher cipher;
    cipher.passphrase = "wrong";
    cipher.reset();
    format::zip::encryption_header header(cipher);
    header.enabled = true;
    header.check_byte = 0x11;
    stream::array_input source(bytes.data(), 12);
    try {
        header.read(source, true);
        FAIL() << "a wrong passphrase was accepted";
    } catch (const format::passphrase_exception& failure) {
        EXPECT_EQ(failure.message, "bad passphrase");
        EXPECT_EQ(failure.where, "format::zip::encryption_header");
    }
}

TEST(encryption_header, a_disabled_header_is_valid_whatever_its_bytes) {
    const std::string bytes(12, '\x42');
    format::cipher nothing;
    format::zip::encryption_header header(nothing);
    stream::array_input source(bytes.data(), 12);
    EXPECT_EQ(header.read(source, true), 12u);
    EXPECT_TRUE(header.valid());
    EXPECT_EQ(header.size(), 12u);
}

TEST(encryption_header, a_file_ending_inside_the_header_reads_zeros_not_old_bytes) {
    format::cipher nothing;
    format::zip::encryption_header header(nothing);
    header.enabled = true;
    header.check_byte = 0x42;
    const std::string full(12, '\x42');
    stream::array_input first(full.data(), 12);
    header.read(first, true);
    const std::string short_one(5, '\x42');
    stream::array_input second(short_one.data(), 5);
    EXPECT_THROW(header.read(second, true), format::passphrase_exception);
    EXPECT_EQ(header.header_bytes[11], 0);
}

}  // namespace
