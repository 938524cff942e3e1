// How an encrypted entry's bytes are deciphered: what the cipher keeps in
// front of the data and after it, how it is keyed from the passphrase and
// checked, and the cipher that decrypts the data in between. The item
// reader drives every cipher the same way; `open_cipher` is the one place
// that tells which an entry uses (zip/entry_cipher.cpp), so a new cipher is
// a class of its own file and one line there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/input.h"
#include "zip/cipher.h"
#include "zip/entry_fields.h"

namespace format::zip {

class entry_cipher {
public:
    entry_cipher() = default;
    entry_cipher(const entry_cipher&) = delete;
    entry_cipher& operator=(const entry_cipher&) = delete;
    virtual ~entry_cipher() = default;

    // Bytes of the cipher's own in front of the data and after it; the
    // entry's compressed size counts them.
    virtual std::uint32_t header_size() const = 0;
    virtual std::uint32_t trailer_size() const { return 0; }
    // Reads the header from `input` (right after the local header) and keys
    // the cipher with `passphrase`. A passphrase that does not fit throws
    // format::passphrase_exception "bad passphrase".
    virtual void start(stream::input& input, const std::string& passphrase) = 0;
    // Decrypts the data, piece by piece in order, after `start`.
    virtual format::cipher& data_cipher() = 0;
    // After the data: reads the trailer from `input` and checks it.
    virtual void finish(stream::input& /*input*/) {}
    // Whether the entry's CRC is to be checked (a cipher that
    // authenticates the data may leave it 0).
    virtual bool checks_crc() const { return true; }
};

// The cipher of an encrypted entry; null for one that is not encrypted.
std::unique_ptr<entry_cipher> open_cipher(const entry_fields& fields);

}  // namespace format::zip
