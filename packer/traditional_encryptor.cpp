#include "packer/traditional_encryptor.h"

#include <sys/random.h>

#include "packer/output_file.h"
#include "zip/checksum/crc_table.h"

namespace quillon::pack {

traditional_encryptor::traditional_encryptor(const std::string& passphrase) {
    for (unsigned char c : passphrase) update(c);
}

void traditional_encryptor::update(std::uint8_t plain) {
    keys_[0] = algorithm::crc_step(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = algorithm::crc_step(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

void traditional_encryptor::make_header(std::uint32_t crc, std::uint8_t header[12]) {
    if (getrandom(header, 11, 0) != 11) throw failure{"cannot get random bytes for the encryption header"};
    header[11] = static_cast<std::uint8_t>(crc >> 24);
    encrypt(header, 12);
}

}  // namespace quillon::pack
