// Decodes one file entry: its stored bytes in, its content out, through the
// entry's cipher when it is encrypted (zip/entry_cipher.h), the decoder of
// its method (zip/method.h) and a CRC-32 of everything written; the data
// descriptor, when the entry has one, is read from exactly the bytes after
// the compressed data. Nothing passes beyond the entry's declared size.
//
// Failures are the decoders' and ciphers' own exceptions and, from
// "format::zip::item_reader", "unsupported compression method N (name)",
// "data longer than its declared size", "data shorter than its declared
// size", and the format::crc_exception "CRC mismatch, data is invalid".
// They do not name the entry: its reader's caller knows which it is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/output.h"
#include "stream/transform.h"
#include "zip/archive.h"
#include "zip/entry_cipher.h"
#include "zip/local_header.h"

namespace format::zip {

class item_reader : public stream::transform {
public:
    // `header` is borrowed; its CRC and sizes are the central directory's
    // where the header defers them (zip/archive.h).
    explicit item_reader(const local_header& header);

    // With `input` at the first byte after the local header: for an
    // encrypted entry, reads the cipher's header and keys it with
    // `passphrase` (throws "bad passphrase"); otherwise does nothing.
    void prepare(stream::input& input, const std::string& passphrase);

    using stream::transform::process;
    // Decodes the entry's data from `input` into `output`; returns the number
    // of bytes written.
    stream::size_type process(stream::input& input, stream::output& output) override;

private:
    const local_header* header_;
    std::unique_ptr<entry_cipher> cipher_;
};

// One entry read whole, from its local header at `local_position`, into
// `output`: what link targets, the test and the listing read. Returns the
// number of bytes written.
stream::size_type read_entry(archive& directory, const central_header& record, stream::size_type local_position,
                             const std::string& passphrase, stream::output& output);

}  // namespace format::zip
