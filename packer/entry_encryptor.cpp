#include "packer/entry_encryptor.h"

#include <openssl/rand.h>

#include "packer/output_file.h"

namespace quillon::pack {

void random_bytes(std::uint8_t* bytes, std::size_t length) {
    if (length > 0 && RAND_bytes(bytes, static_cast<int>(length)) != 1)
        throw failure{"cannot get random bytes for the encryption"};
}

}  // namespace quillon::pack
