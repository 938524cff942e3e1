// Helpers of the Zstandard tests: one-call decoding in push and pull mode,
// and the pieces of hand-built frames.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "errors/exception.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"
#include "zstd/decompressor.h"

namespace zstd_test {

using bytes = std::vector<std::uint8_t>;

// Decodes with `copy_to`.
inline bytes decode_push(const bytes& compressed, stream::size_type expected = stream::unknown_size) {
    stream::array_input source(compressed.data(), static_cast<std::uint32_t>(compressed.size()));
    algorithm::zstd::decompressor decoder(source, expected);
    bytes result;
    stream::vector_output target(result);
    decoder.copy_to(target);
    decoder.finish();
    return result;
}

// Decodes with `read` and `get`, in pieces of varying size.
inline bytes decode_pull(const bytes& compressed, stream::size_type expected = stream::unknown_size) {
    stream::array_input source(compressed.data(), static_cast<std::uint32_t>(compressed.size()));
    algorithm::zstd::decompressor decoder(source, expected);
    bytes result;
    std::vector<std::uint8_t> piece(300000);
    const std::uint32_t sizes[] = {1, 7, 4096, 131072, 300000, 300};
    for (unsigned i = 0;; ++i) {
        if (i % 5 == 4) {
            const int byte = decoder.get();
            if (byte < 0) break;
            result.push_back(static_cast<std::uint8_t>(byte));
            continue;
        }
        const std::uint32_t got = decoder.read(piece.data(), sizes[i % 6]);
        if (got == 0) break;
        result.insert(result.end(), piece.begin(), piece.begin() + got);
    }
    decoder.finish();
    return result;
}

// The exception a decode throws, as "where: message"; empty if none.
template <class Decode>
std::string failure_of(Decode decode) {
    try {
        decode();
    } catch (const algorithm::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "";
}

inline bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

inline bytes little_endian(std::uint64_t value, int count) {
    bytes out;
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

const bytes magic = {0x28, 0xB5, 0x2F, 0xFD};

// A frame header: the descriptor byte, then its fields as given.
inline bytes header(std::uint8_t descriptor, const bytes& fields) { return magic + bytes{descriptor} + fields; }
// No content size, no checksum, a 64 KiB window (exponent 6).
inline bytes plain_header() { return header(0x00, {6 << 3}); }

// Block header: last flag, type (0 raw, 1 RLE, 2 compressed), size.
inline bytes block(bool last, int type, std::uint32_t size, const bytes& content = {}) {
    return little_endian((size << 3) | (static_cast<std::uint32_t>(type) << 1) | (last ? 1u : 0u), 3) + content;
}
inline bytes raw(const bytes& content, bool last = true) {
    return block(last, 0, static_cast<std::uint32_t>(content.size()), content);
}
inline bytes compressed(const bytes& content, bool last = true) {
    return block(last, 2, static_cast<std::uint32_t>(content.size()), content);
}

// Raw literals of fewer than 32 bytes: a 1-byte header.
inline bytes raw_literals(const bytes& literals) {
    return bytes{static_cast<std::uint8_t>(literals.size() << 3)} + literals;
}

// A backward bit stream: the fields in the order the decoder reads them,
// each most significant bit first, after the padding mark.
inline bytes backward(const std::vector<std::pair<std::uint32_t, int>>& fields) {
    std::vector<int> bits = {1};
    for (const auto& field : fields)
        for (int i = field.second - 1; i >= 0; --i) bits.push_back((field.first >> i) & 1);
    bits.insert(bits.begin(), (8 - bits.size() % 8) % 8, 0);
    bytes out(bits.size() / 8);
    for (std::size_t i = 0; i < bits.size(); ++i)
        out[out.size() - 1 - i / 8] |= static_cast<std::uint8_t>(bits[i] << (7 - i % 8));
    return out;
}

// A sequences section of `count` sequences whose three codes are each a
// single repeated symbol (RLE mode), then the bit stream.
inline bytes rle_sequences(std::uint8_t count, std::uint8_t length_code, std::uint8_t offset_code,
                           std::uint8_t match_code, const bytes& stream) {
    return bytes{count, 0x54, length_code, offset_code, match_code} + stream;
}

}  // namespace zstd_test
