#include "zip/entry_cipher.h"

#include <optional>

#include "stream/safe_input.h"
#include "zip/aes_cipher.h"
#include "zip/encryption_header.h"
#include "zip/traditional_cipher.h"

namespace format::zip {

namespace {

// The traditional PKWARE cipher: 12 bytes in front of the data, whose last
// one, decrypted, must be the check byte.
class traditional_entry_cipher : public entry_cipher {
public:
    explicit traditional_entry_cipher(std::uint8_t check_byte) : header_(cipher_) {
        header_.check_byte = check_byte;
        header_.enabled = true;
    }

    std::uint32_t header_size() const override { return header_.size(); }
    void start(stream::input& input, const std::string& passphrase) override {
        cipher_.passphrase = passphrase;
        cipher_.reset();
        header_.read(input, true);
    }
    format::cipher& data_cipher() override { return cipher_; }

private:
    traditional_cipher cipher_;
    encryption_header header_;
};

// WinZip AES: a salt and a verifier in front of the data, the
// authentication code after it. AE-2 leaves the CRC 0: the code alone
// checks the data.
class aes_entry_cipher : public entry_cipher {
public:
    aes_entry_cipher(int strength, bool checks_crc) : strength_(strength), checks_crc_(checks_crc) {}

    std::uint32_t header_size() const override {
        return aes_cipher::salt_length(strength_) + aes_cipher::verifier_length;
    }
    std::uint32_t trailer_size() const override { return aes_cipher::code_length; }
    void start(stream::input& input, const std::string& passphrase) override {
        std::uint8_t header[aes_cipher::max_salt_length + aes_cipher::verifier_length];
        const std::uint32_t salt = aes_cipher::salt_length(strength_);
        stream::safe_input(input).read(header, salt + aes_cipher::verifier_length);
        cipher_.emplace(passphrase, strength_, header);
        cipher_->check_verifier(header + salt);
    }
    format::cipher& data_cipher() override { return *cipher_; }
    void finish(stream::input& input) override {
        std::uint8_t code[aes_cipher::code_length];
        stream::safe_input(input).read(code, sizeof code);
        cipher_->check_code(code);
    }
    bool checks_crc() const override { return checks_crc_; }

private:
    int strength_;
    bool checks_crc_;
    std::optional<aes_cipher> cipher_;
};

}  // namespace

std::unique_ptr<entry_cipher> open_cipher(const entry_fields& fields) {
    if (fields.aes()) return std::make_unique<aes_entry_cipher>(fields.aes_strength, fields.aes_version == 1);
    if (!fields.encrypted()) return nullptr;
    // The check byte is the CRC's high byte, or the DOS time's when the CRC
    // follows the data.
    const auto check = static_cast<std::uint8_t>(fields.has_descriptor() ? fields.check_byte : fields.crc >> 24);
    return std::make_unique<traditional_entry_cipher>(check);
}

}  // namespace format::zip
