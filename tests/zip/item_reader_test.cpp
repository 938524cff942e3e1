// One entry decoded from memory: methods, the CRC test, decryption, and the
// place the data descriptor is read from.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "errors/exception.h"
#include "stream/random/vector_output.h"
#include "tests/zip/hand_made.h"
#include "tests/zip/memory_input.h"
#include "zip/item_reader.h"
#include "zip/local_header.h"

namespace {

using namespace zip_test;

const std::string trailer = "NEXT-RECORD";

struct decoded {
    std::string content;
    std::string rest;  // what the input holds after the entry
};

// Reads the local header as the archive does (central CRC and size for
// entries with a descriptor), then decodes the entry.
decoded decode(entry e, const std::string& passphrase = "") {
    archive_builder builder;
    builder.entries.push_back(e);
    builder.settle();
    e = builder.entries[0];
    memory_input in(archive_builder::local(e).str() + trailer);
    format::zip::local_header header;
    header.read(in, true);
    if (header.fields.flags & 8) {
        header.fields.crc = e.crc;
        header.fields.compressed_size = e.compressed_size;
        header.fields.uncompressed_size = e.uncompressed_size;
    }
    std::vector<std::uint8_t> bytes;
    stream::random::vector_output out(bytes);
    format::zip::item_reader reader(header);
    reader.prepare(in, passphrase);
    const stream::size_type written = reader.process(in, out);
    EXPECT_EQ(written, bytes.size());
    decoded result;
    result.content.assign(bytes.begin(), bytes.end());
    char rest[64];
    result.rest.assign(rest, in.read(rest, sizeof rest));
    return result;
}

std::string failure_of(const entry& e, const std::string& passphrase = "") {
    try {
        decode(e, passphrase);
    } catch (const un::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "";
}

const std::string text = "Stored and deflated bytes come out unchanged; the CRC checks them.";

TEST(item_reader, stored_and_deflated_entries_decode) {
    EXPECT_EQ(decode(stored_entry("a", text)).content, text);
    EXPECT_EQ(decode(deflated_entry("a", text)).content, text);
    const decoded empty = decode(stored_entry("a", ""));
    EXPECT_EQ(empty.content, "");
    EXPECT_EQ(empty.rest, trailer);
}

// Stored data whose compressed size says more than its content: the copy
// would run on into whatever follows it.
TEST(item_reader, stored_data_longer_than_its_declared_size_is_refused) {
    entry e = stored_entry("a", text);
    e.compressed_size = 1000;  // more than the file holds
    e.data = text;
    EXPECT_EQ(failure_of(e), "format::zip::item_reader: data longer than its declared size");
}

// Hazard: a small declared entry that inflates to far more (with the CRC of
// all of it) was written whole; the declared size is where it must stop.
TEST(item_reader, data_that_inflates_past_its_declared_size_stops_there) {
    const std::string big(60000, 'z');  // one stored Deflate block holds it
    entry e = deflated_entry("bomb", big);
    e.uncompressed_size = 1000;
    archive_builder builder;
    builder.entries.push_back(e);
    builder.settle();
    e = builder.entries[0];
    memory_input in(archive_builder::local(e).str() + trailer);
    format::zip::local_header header;
    header.read(in, true);
    std::vector<std::uint8_t> written;
    stream::random::vector_output out(written);
    format::zip::item_reader reader(header);
    reader.prepare(in, "");
    try {
        reader.process(in, out);
        FAIL() << "no failure";
    } catch (const format::exception& failure) {
        EXPECT_EQ(failure.where + ": " + failure.message,
                  "format::zip::item_reader: data longer than its declared size");
    }
    EXPECT_LE(written.size(), 1000u);
}

TEST(item_reader, data_shorter_than_its_declared_size_is_refused) {
    entry e = deflated_entry("a", text);
    e.uncompressed_size = static_cast<std::uint32_t>(text.size() + 10);
    EXPECT_EQ(failure_of(e), "format::zip::item_reader: data shorter than its declared size");
}

TEST(item_reader, changed_data_fails_the_crc) {
    entry e = stored_entry("a", text);
    e.crc = crc_of(text) ^ 0x100;
    EXPECT_EQ(failure_of(e), "format::zip::item_reader: CRC mismatch, data is invalid");
}

TEST(item_reader, methods_other_than_stored_and_deflated_are_refused) {
    const std::pair<std::uint16_t, const char*> methods[] = {
        {1, "1 (shrunk)"}, {6, "6 (imploded)"}, {10, "10 (PKWARE imploded)"}, {65535, "65535 (method 65535)"}};
    for (const auto& [method, named] : methods) {
        entry e = stored_entry("a", text);
        e.method = method;
        EXPECT_EQ(failure_of(e), std::string("format::zip::item_reader: unsupported compression method ") + named)
            << method;
    }
}

// Hazard: without a descriptor there is no second CRC; taking the absent
// descriptor's 0 as one let damaged data whose CRC happens to be 0 pass.
TEST(item_reader, without_a_descriptor_a_crc_of_zero_is_no_match) {
    const std::string crc_zero = "zero sum\xD9\x9E\xA3\x26";  // its CRC-32 is 0
    ASSERT_EQ(crc_of(crc_zero), 0u);
    entry damaged = stored_entry("f", crc_zero);
    damaged.crc = crc_of("the data that was packed");
    EXPECT_EQ(failure_of(damaged), "format::zip::item_reader: CRC mismatch, data is invalid");
    entry good = stored_entry("f", crc_zero);  // a CRC of 0 in the header is fine
    EXPECT_EQ(failure_of(good), "");
}

TEST(item_reader, the_descriptor_follows_the_data_and_its_crc_counts) {
    const decoded result = decode(with_descriptor(deflated_entry("a", text)));
    EXPECT_EQ(result.content, text);
    EXPECT_EQ(result.rest, trailer);

    // The central CRC is wrong, the descriptor's right: accepted.
    entry e = with_descriptor(stored_entry("a", text));
    e.descriptor = bytes().u32(0x08074B50).u32(crc_of(text)).u32(0).u32(0).str();
    e.crc = 0xDEADBEEF;
    EXPECT_EQ(decode(e).content, text);
}

// Hazard: writers may leave the descriptor's signature out; such entries,
// which other readers take, were refused.
TEST(item_reader, a_descriptor_without_its_signature_is_read_by_its_sizes) {
    entry e = with_descriptor(deflated_entry("a", text));
    archive_builder builder;
    builder.entries.push_back(e);
    builder.settle();
    const entry settled = builder.entries[0];
    e.descriptor = bytes().u32(settled.crc).u32(settled.compressed_size).u32(settled.uncompressed_size).str();
    const decoded result = decode(e);
    EXPECT_EQ(result.content, text);
    EXPECT_EQ(result.rest, trailer);

    // Without a signature, a CRC that happens to be the signature's value is
    // told from one by the sizes that follow.
    const std::string content = "looks like PK78';\x88\xED";  // its CRC-32 is 0x08074B50
    ASSERT_EQ(crc_of(content), 0x08074B50u);
    entry odd = with_descriptor(stored_entry("b", content));
    const auto size = static_cast<std::uint32_t>(content.size());
    odd.descriptor = bytes().u32(0x08074B50).u32(size).u32(size).str();
    const decoded bare = decode(odd);
    EXPECT_EQ(bare.content, content);
    EXPECT_EQ(bare.rest, trailer);
}

// Hazard: Deflate data that ends before the stored compressed size; the
// descriptor stands after the whole size, not where the decoder stopped.
TEST(item_reader, the_descriptor_is_read_after_the_whole_compressed_size) {
    entry e = with_descriptor(deflated_entry("a", text));
    e.data += "padding";
    const decoded result = decode(e);
    EXPECT_EQ(result.content, text);
    EXPECT_EQ(result.rest, trailer);
}

// Hazard: sizes unknown everywhere (flag bit 3, compressed size 0 in the
// central record too). The decoder reads ahead and must give back every
// byte it did not use, so that the descriptor comes from the right place.
TEST(item_reader, with_unknown_sizes_the_descriptor_still_follows_the_data) {
    entry e = with_descriptor(deflated_entry("a", text));
    archive_builder builder;
    builder.entries.push_back(e);
    builder.settle();
    e = builder.entries[0];
    const std::string descriptor = bytes().u32(0x08074B50).u32(e.crc).u32(e.compressed_size).u32(0).str();
    e.descriptor = descriptor;
    e.compressed_size = 0;
    memory_input in(archive_builder::local(e).str() + trailer);
    format::zip::local_header header;
    header.read(in, true);
    header.fields.crc = e.crc;
    header.fields.uncompressed_size = e.uncompressed_size;
    std::vector<std::uint8_t> bytes_out;
    stream::random::vector_output out(bytes_out);
    format::zip::item_reader reader(header);
    reader.prepare(in, "");
    reader.process(in, out);
    EXPECT_EQ(std::string(bytes_out.begin(), bytes_out.end()), text);
    char rest[64];
    EXPECT_EQ(std::string(rest, in.read(rest, sizeof rest)), trailer);
}

TEST(item_reader, encrypted_entries_decrypt_exactly_their_data) {
    const decoded stored = decode(encrypted(stored_entry("a", text), "pw"), "pw");
    EXPECT_EQ(stored.content, text);
    EXPECT_EQ(stored.rest, trailer);
    EXPECT_EQ(decode(encrypted(deflated_entry("a", text), "pw"), "pw").content, text);
}

// Hazard: the decrypting input used to read ahead past the entry and keep
// those bytes decrypted, so the descriptor was taken from the wrong place.
TEST(item_reader, an_encrypted_entry_with_a_descriptor_reads_it_from_after_the_data) {
    entry e = encrypted(with_descriptor(deflated_entry("a", text)), "pw");
    const decoded result = decode(e, "pw");
    EXPECT_EQ(result.content, text);
    EXPECT_EQ(result.rest, trailer);
}

TEST(item_reader, a_wrong_passphrase_is_refused_by_the_check_byte) {
    EXPECT_EQ(failure_of(encrypted(stored_entry("a", text), "right"), "wrong"),
              "format::zip::encryption_header: bad passphrase");
}

// With flag bit 3 the check byte is the DOS time's high byte: an entry
// whose CRC's high byte differs still decrypts.
TEST(item_reader, entries_with_a_descriptor_check_the_time_byte) {
    entry e = with_descriptor(stored_entry("a", text));
    e.time = 0x7A00;
    ASSERT_NE(crc_of(text) >> 24, 0x7Au);
    EXPECT_EQ(decode(encrypted(e, "pw"), "pw").content, text);
}

TEST(item_reader, an_encrypted_entry_smaller_than_its_header_decodes_nothing) {
    entry e = encrypted(stored_entry("a", ""), "pw");
    e.compressed_size = 5;  // less than the 12-byte encryption header
    EXPECT_EQ(decode(e, "pw").content, "");
}

}  // namespace
