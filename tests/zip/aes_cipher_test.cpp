// WinZip AES against entries that 7-Zip and bsdtar encrypted: decryption
// through the decrypting input, encryption back to the tools' bytes, and
// the two failures a reader must report, a wrong passphrase and changed
// data.
#include "zip/aes_cipher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "tests/zip/aes_archives.h"
#include "zip/checksum/crc32.h"
#include "zip/decrypting_input.h"

namespace {

using format::zip::aes_cipher;
using bytes = std::vector<std::uint8_t>;

std::uint32_t le16(const std::uint8_t* p) { return p[0] | p[1] << 8; }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// What the archive's first entry holds for AES.
struct aes_entry {
    std::uint32_t method = 0;          // 99
    std::uint32_t crc = 0;             // 0 for AE-2
    std::uint32_t vendor_version = 0;  // 1 or 2: AE-1, AE-2
    int strength = 0;
    std::uint32_t real_method = 0;  // 0: stored
    bytes salt, verifier, data, code;
};

// Just enough of the format: the end record (the archive has no comment),
// the first central header for the sizes (bsdtar's local header leaves
// them to a data descriptor) and the 0x9901 field, the local header for
// where the data starts.
aes_entry first_entry(const std::uint8_t* archive, std::size_t size) {
    aes_entry entry;
    const std::uint8_t* end = archive + size - 22;
    EXPECT_EQ(le32(end), 0x06054B50u);
    const std::uint8_t* central = archive + le32(end + 16);  // offset of the central directory
    EXPECT_EQ(le32(central), 0x02014B50u);
    entry.method = le16(central + 10);
    entry.crc = le32(central + 16);
    const std::uint32_t compressed = le32(central + 20);
    const std::uint8_t* extra = central + 46 + le16(central + 28);  // after the name
    const std::uint8_t* extra_end = extra + le16(central + 30);
    for (; extra + 4 <= extra_end; extra += 4 + le16(extra + 2)) {
        if (le16(extra) != 0x9901) continue;
        // vendor version (2), vendor "AE" (2), strength (1), real method (2)
        EXPECT_EQ(le16(extra + 2), 7u);
        entry.vendor_version = le16(extra + 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(extra + 6), 2), "AE");
        entry.strength = extra[8];
        entry.real_method = le16(extra + 9);
    }
    const std::uint8_t* local = archive + le32(central + 42);
    EXPECT_EQ(le32(local), 0x04034B50u);
    const std::uint8_t* at = local + 30 + le16(local + 26) + le16(local + 28);  // after name and extra
    const std::uint32_t salt_length = aes_cipher::salt_length(entry.strength);
    const std::uint32_t data_length = compressed - aes_cipher::overhead(entry.strength);
    entry.salt.assign(at, at + salt_length);
    at += salt_length;
    entry.verifier.assign(at, at + aes_cipher::verifier_length);
    at += aes_cipher::verifier_length;
    entry.data.assign(at, at + data_length);
    at += data_length;
    entry.code.assign(at, at + aes_cipher::code_length);
    return entry;
}

const std::string counter_text = "Counter mode, one block and a bit more: 0123456789abcdef.\n";

bytes pattern() {
    bytes b(400);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(7 * i + 3);
    return b;
}

struct tool_case {
    const char* name;
    const std::uint8_t* archive;
    std::size_t size;
    const char* passphrase;
    std::uint32_t vendor_version;
    int strength;
    bytes plain;
};

std::vector<tool_case> tool_cases() {
    namespace a = aes_archives;
    const bytes text(counter_text.begin(), counter_text.end());
    return {
        {"7-Zip AES-128", a::seven_zip_aes128, sizeof a::seven_zip_aes128, "secret", 2, 1, text},
        {"7-Zip AES-192", a::seven_zip_aes192, sizeof a::seven_zip_aes192, "secret", 2, 2, text},
        {"7-Zip AES-256", a::seven_zip_aes256, sizeof a::seven_zip_aes256, "secret", 2, 3, text},
        {"7-Zip AES-256, 25 blocks", a::seven_zip_aes256_long, sizeof a::seven_zip_aes256_long, "long pass phrase, 7",
         2, 3, pattern()},
        {"7-Zip AES-256, empty", a::seven_zip_aes256_empty, sizeof a::seven_zip_aes256_empty, "secret", 2, 3, {}},
        {"bsdtar AES-128", a::bsdtar_aes128, sizeof a::bsdtar_aes128, "secret", 1, 1, text},
        {"bsdtar AES-256", a::bsdtar_aes256, sizeof a::bsdtar_aes256, "secret", 1, 3, text},
    };
}

// Through the decrypting input, in pieces of 7 bytes, as a reader would.
bytes decrypted(aes_cipher& cipher, const bytes& data) {
    stream::array_input source(data.data(), static_cast<std::uint32_t>(data.size()));
    stream::decrypting_input plain(source, cipher);
    bytes out;
    std::uint8_t piece[7];
    while (std::uint32_t got = plain.read(piece, sizeof piece)) out.insert(out.end(), piece, piece + got);
    return out;
}

TEST(aes_cipher, decrypts_and_authenticates_entries_of_real_tools) {
    for (const auto& c : tool_cases()) {
        SCOPED_TRACE(c.name);
        const aes_entry entry = first_entry(c.archive, c.size);
        EXPECT_EQ(entry.method, 99u);
        EXPECT_EQ(entry.vendor_version, c.vendor_version);
        EXPECT_EQ(entry.strength, c.strength);
        EXPECT_EQ(entry.real_method, 0u);

        aes_cipher cipher(c.passphrase, entry.strength, entry.salt.data());
        cipher.check_verifier(entry.verifier.data());
        EXPECT_EQ(decrypted(cipher, entry.data), c.plain);
        EXPECT_NO_THROW(cipher.check_code(entry.code.data()));

        // AE-1 keeps the real CRC, AE-2 stores 0.
        algorithm::crc32 crc;
        crc.update(c.plain.data(), c.plain.size());
        crc.finish();
        EXPECT_EQ(entry.crc, c.vendor_version == 1 ? crc.value() : 0u);
    }
}

TEST(aes_cipher, encrypting_the_plaintext_gives_the_tools_bytes_and_code) {
    for (const auto& c : tool_cases()) {
        SCOPED_TRACE(c.name);
        const aes_entry entry = first_entry(c.archive, c.size);
        aes_cipher cipher(c.passphrase, entry.strength, entry.salt.data());
        EXPECT_EQ(bytes(cipher.verifier(), cipher.verifier() + 2), entry.verifier);
        bytes data = c.plain;
        // Two uneven pieces, the first ending inside a block.
        const auto first = static_cast<std::uint32_t>(data.size() / 3);
        cipher.encrypt(data.data(), first);
        cipher.encrypt(data.data() + first, static_cast<std::uint32_t>(data.size()) - first);
        EXPECT_EQ(data, entry.data);
        const auto code = cipher.finish_code();
        EXPECT_EQ(bytes(code.begin(), code.end()), entry.code);
    }
}

TEST(aes_cipher, reset_starts_the_counter_and_the_code_again) {
    const tool_case c = tool_cases()[3];
    const aes_entry entry = first_entry(c.archive, c.size);
    aes_cipher cipher(c.passphrase, entry.strength, entry.salt.data());
    bytes half(entry.data.begin(), entry.data.begin() + 100);
    cipher.decrypt(half.data(), static_cast<std::uint32_t>(half.size()));
    cipher.reset();
    EXPECT_EQ(decrypted(cipher, entry.data), c.plain);
    EXPECT_NO_THROW(cipher.check_code(entry.code.data()));
}

TEST(aes_cipher, a_wrong_passphrase_is_a_bad_passphrase) {
    for (const auto& c : tool_cases()) {
        SCOPED_TRACE(c.name);
        const aes_entry entry = first_entry(c.archive, c.size);
        const aes_cipher cipher("Secret", entry.strength, entry.salt.data());
        try {
            cipher.check_verifier(entry.verifier.data());
            ADD_FAILURE() << "the verifier matched";
        } catch (const format::passphrase_exception& e) {
            EXPECT_EQ(e.message, "bad passphrase");
            EXPECT_EQ(e.where, "format::zip::aes_cipher");
        }
    }
}

void expect_authentication_failure(const tool_case& c, bytes data, const bytes& code) {
    const aes_entry entry = first_entry(c.archive, c.size);
    aes_cipher cipher(c.passphrase, entry.strength, entry.salt.data());
    decrypted(cipher, data);
    try {
        cipher.check_code(code.data());
        ADD_FAILURE() << "the code matched";
    } catch (const format::exception& e) {
        EXPECT_EQ(e.message, "authentication code mismatch, data is invalid");
        EXPECT_EQ(e.where, "format::zip::aes_cipher");
    }
}

// Every single flipped bit of the data, of the stored code, and data cut
// short or extended, fail the code.
TEST(aes_cipher, changed_data_fails_authentication) {
    const tool_case c = tool_cases()[6];
    const aes_entry entry = first_entry(c.archive, c.size);
    for (std::size_t i = 0; i < entry.data.size(); ++i) {
        bytes data = entry.data;
        data[i] ^= 1 << (i % 8);
        expect_authentication_failure(c, data, entry.code);
    }
    for (std::size_t i = 0; i < entry.code.size(); ++i) {
        bytes code = entry.code;
        code[i] ^= 0x80;
        expect_authentication_failure(c, entry.data, code);
    }
    expect_authentication_failure(c, bytes(entry.data.begin(), entry.data.end() - 1), entry.code);
    bytes longer = entry.data;
    longer.push_back(entry.code[0]);
    expect_authentication_failure(c, longer, entry.code);
}

TEST(aes_cipher, strengths_other_than_1_to_3_are_rejected) {
    const std::uint8_t salt[16] = {};
    for (int strength : {0, 4, 255, -1}) {
        try {
            aes_cipher cipher("secret", strength, salt);
            ADD_FAILURE() << "strength " << strength << " accepted";
        } catch (const format::exception& e) {
            EXPECT_EQ(e.message, "unknown AES strength");
            EXPECT_EQ(e.where, "format::zip::aes_cipher");
        }
    }
}

}  // namespace
