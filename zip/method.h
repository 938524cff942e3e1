// The compression methods this reader decodes: one decoder per method
// behind one interface, and the one table that maps a method's number to
// its decoder (zip/method.cpp). A new method is a decoder of its own file
// and one line in that table; the survey, the item reader and the listing
// all ask `find_method`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/input.h"
#include "stream/output.h"

namespace format::zip {

// What a decoder is given: its source, which delivers the entry's stored
// (decrypted) bytes and ends after them unless their size is unknown; the
// sizes the records declare; and whether the decoder must give back every
// byte it read beyond its data (the size is unknown and a data descriptor
// follows).
struct decoding {
    stream::input& source;
    stream::size_type stored_size;
    stream::size_type declared_size;
    bool give_back;
    std::uint16_t flags;  // the entry's general purpose flags
};

class entry_decoder {
public:
    entry_decoder() = default;
    entry_decoder(const entry_decoder&) = delete;
    entry_decoder& operator=(const entry_decoder&) = delete;
    virtual ~entry_decoder() = default;

    // Decodes the whole entry into `target`. Failures are the decoder's
    // own exceptions.
    virtual void decode(stream::output& target) = 0;
};

struct method {
    std::uint16_t number;
    const char* name;
    std::unique_ptr<entry_decoder> (*open)(const decoding& given);
    // Its entries may need version 6.3 to extract (it came with that
    // version of the format).
    bool later;
};

// The method of that number that this reader decodes; null for any other.
const method* find_method(std::uint16_t number);
// The method's name where the format names it ("deflated", "bzip2",
// "LZMA"...), "method N" otherwise; for messages.
std::string method_name(std::uint16_t number);

// The decoders, one file each.
std::unique_ptr<entry_decoder> open_stored(const decoding& given);
std::unique_ptr<entry_decoder> open_deflated(const decoding& given);
std::unique_ptr<entry_decoder> open_deflate64(const decoding& given);
std::unique_ptr<entry_decoder> open_lzma(const decoding& given);
std::unique_ptr<entry_decoder> open_zstd(const decoding& given);

}  // namespace format::zip
