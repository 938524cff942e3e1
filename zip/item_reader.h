// Decodes one file entry: its stored bytes in, its content out, through the
// traditional decryption when the entry is encrypted, the copy or inflate
// decoder of its method and a CRC-32 of everything written; the data
// descriptor, when the entry has one, is read from exactly the bytes after
// the compressed data.
#pragma once

#include <cstdint>
#include <string>

#include "stream/transform.h"
#include "zip/encryption_header.h"
#include "zip/local_header.h"
#include "zip/traditional_cipher.h"

namespace format::zip {

class item_reader : public stream::transform {
public:
    // `header` is borrowed; its CRC and compressed size are the central
    // directory's when the entry has a data descriptor.
    explicit item_reader(const local_header& header) : header_(&header), encryption_(cipher_) {}

    // With `input` at the first byte after the local header: for an encrypted
    // entry, reads the 12-byte encryption header and keys the cipher for the
    // data that follows (throws "bad passphrase"); otherwise does nothing.
    void prepare(stream::input& input, const std::string& passphrase);

    using stream::transform::process;
    // Decodes the entry's data from `input` into `output`; returns the number
    // of bytes written. Throws on an unknown method, a CRC mismatch, a
    // descriptor without its signature and the decoders' own errors.
    stream::size_type process(stream::input& input, stream::output& output) override;

    // Stored data moves in pieces of this size: few system calls per byte,
    // as the inflate window writes.
    static constexpr std::uint32_t copy_buffer_size = 262144;
    // A 32 KiB window, the only one Zip's Deflate uses.
    static constexpr int deflate_extent = 15;

private:
    // Copies or inflates `source` into `target`.
    void decode(stream::input& source, stream::output& target, stream::size_type stored_size, bool give_back_bits);

    const local_header* header_;
    traditional_cipher cipher_;
    encryption_header encryption_;
};

}  // namespace format::zip
