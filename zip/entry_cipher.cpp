#include "zip/entry_cipher.h"

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

}  // namespace

std::unique_ptr<entry_cipher> open_cipher(const entry_fields& fields) {
    if (!fields.encrypted()) return nullptr;
    // The check byte is the CRC's high byte, or the DOS time's when the CRC
    // follows the data.
    const auto check = static_cast<std::uint8_t>(fields.has_descriptor() ? fields.check_byte : fields.crc >> 24);
    return std::make_unique<traditional_entry_cipher>(check);
}

}  // namespace format::zip
