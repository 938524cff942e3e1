// HMAC-SHA1 (RFC 2104) and PBKDF2 with it (RFC 8018), as WinZip's Zip
// encryption derives its keys and authenticates its data.
//
// The key enters HMAC only through the two blocks key XOR ipad and key
// XOR opad; their chaining states are computed once per key, so a message
// costs its own blocks plus one block for the outer hash, and a PBKDF2
// iteration, whose message is one 20-byte code, costs two compressions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/sha1.h"

namespace algorithm::crypto {

class hmac_sha1 {
public:
    static constexpr std::size_t size = sha1::digest_size;

    // A key longer than a block is hashed first. The hashes run the SHA-1
    // kernel that is active now.
    hmac_sha1(const void* key, std::size_t length);

    void update(const void* bytes, std::size_t length) { message_.update(bytes, length); }
    // The code of the message given since construction or the last finish;
    // a new message with the same key starts.
    sha1::digest finish();

private:
    friend void pbkdf2_hmac_sha1(std::string_view, const std::uint8_t*, std::size_t, std::uint32_t, std::uint8_t*,
                                 std::size_t);

    sha1 inner_;    // after key XOR ipad
    sha1 outer_;    // after key XOR opad
    sha1 message_;  // inner_ and the message so far
};

// Derives `length` bytes into `out` from `passphrase` and the salt, with
// `iterations` (at least 1) of HMAC-SHA1 for each 20 bytes.
void pbkdf2_hmac_sha1(std::string_view passphrase, const std::uint8_t* salt, std::size_t salt_length,
                      std::uint32_t iterations, std::uint8_t* out, std::size_t length);

}  // namespace algorithm::crypto
