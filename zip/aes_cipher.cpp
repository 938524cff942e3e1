#include "zip/aes_cipher.h"

#include <algorithm>

#include "crypto/wipe.h"
#include "errors/exception.h"

namespace format::zip {

namespace {

const char* const where = "format::zip::aes_cipher";

// The data passes twice, through the code and through the counter; in
// slices that stay in the first-level cache between the two.
constexpr std::uint32_t slice = 8192;

}  // namespace

struct aes_cipher::derived_keys {
    static constexpr std::size_t max_length = 2 * 32 + verifier_length;
    static_assert(max_length == 66, "AES-256: two 32-byte keys and the verifier");
    std::uint8_t bytes[max_length];

    derived_keys(std::string_view passphrase, int strength, const std::uint8_t* salt) {
        algorithm::crypto::pbkdf2_hmac_sha1(passphrase, salt, salt_length(strength), iterations, bytes,
                                            2 * key_length(strength) + verifier_length);
    }
    ~derived_keys() { algorithm::crypto::wipe(bytes, sizeof bytes); }
};

std::uint32_t aes_cipher::salt_length(int strength) {
    if (strength < 1 || strength > 3) throw format::exception("unknown AES strength", where);
    return 4 + 4 * static_cast<std::uint32_t>(strength);
}

std::uint32_t aes_cipher::key_length(int strength) { return 2 * salt_length(strength); }

static_assert(aes_cipher::max_salt_length == 16, "strength 3");

aes_cipher::aes_cipher(std::string_view passphrase, int strength, const std::uint8_t* salt)
    : aes_cipher(derived_keys(passphrase, strength, salt), key_length(strength)) {}

aes_cipher::aes_cipher(const derived_keys& keys, std::uint32_t key_length)
    : key_(keys.bytes, key_length), counter_(key_), code_(keys.bytes + key_length, key_length) {
    verifier_[0] = keys.bytes[2 * key_length];
    verifier_[1] = keys.bytes[2 * key_length + 1];
}

aes_cipher::~aes_cipher() { algorithm::crypto::wipe(verifier_, sizeof verifier_); }

void aes_cipher::check_verifier(const std::uint8_t* stored) const {
    if (stored[0] != verifier_[0] || stored[1] != verifier_[1])
        throw format::passphrase_exception("bad passphrase", where);
}

void aes_cipher::reset() {
    counter_.restart();
    code_.finish();
}

void aes_cipher::decrypt(std::uint8_t* bytes, std::uint32_t length) {
    while (length > 0) {
        const std::uint32_t n = std::min(length, slice);
        code_.update(bytes, n);
        counter_.apply(bytes, n);
        bytes += n;
        length -= n;
    }
}

void aes_cipher::encrypt(std::uint8_t* bytes, std::uint32_t length) {
    while (length > 0) {
        const std::uint32_t n = std::min(length, slice);
        counter_.apply(bytes, n);
        code_.update(bytes, n);
        bytes += n;
        length -= n;
    }
}

std::array<std::uint8_t, aes_cipher::code_length> aes_cipher::finish_code() {
    const algorithm::crypto::sha1::digest full = code_.finish();
    std::array<std::uint8_t, code_length> code;
    std::copy(full.begin(), full.begin() + code_length, code.begin());
    return code;
}

// Compared without an early exit, so the time taken does not tell how many
// leading bytes were right.
void aes_cipher::check_code(const std::uint8_t* stored) {
    const auto code = finish_code();
    std::uint8_t difference = 0;
    for (std::uint32_t i = 0; i < code_length; ++i) difference |= code[i] ^ stored[i];
    if (difference != 0) throw format::exception("authentication code mismatch, data is invalid", where);
}

}  // namespace format::zip
