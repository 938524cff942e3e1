// Helpers of the inflate tests: a bit writer for hand-built Deflate streams
// and one-call decoding in push and pull mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"

namespace flate_test {

using bytes = std::vector<std::uint8_t>;

// Packs bits as Deflate does: fields least significant bit first, Huffman
// codes most significant bit first.
class bit_writer {
public:
    bit_writer& field(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bit((value >> i) & 1);
        return *this;
    }
    bit_writer& code(std::uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) bit((value >> i) & 1);
        return *this;
    }
    // Pads to a byte boundary with zero bits.
    bit_writer& align() {
        while (count_ % 8 != 0) bit(0);
        return *this;
    }
    bit_writer& raw(const bytes& data) {
        align();
        for (auto b : data) field(b, 8);
        return *this;
    }
    // Fixed-code symbols (RFC 1951, 3.2.6).
    bit_writer& fixed_literal(int symbol) {
        if (symbol < 144) return code(0x30 + symbol, 8);
        if (symbol < 256) return code(0x190 + symbol - 144, 9);
        if (symbol < 280) return code(symbol - 256, 7);
        return code(0xC0 + symbol - 280, 8);
    }
    bit_writer& fixed_distance(int code_number) { return code(code_number, 5); }
    bytes finish() {
        align();
        return data_;
    }
    std::size_t bit_count() const { return count_; }

private:
    void bit(int b) {
        if (count_ % 8 == 0) data_.push_back(0);
        data_.back() |= static_cast<std::uint8_t>(b << (count_ % 8));
        ++count_;
    }
    bytes data_;
    std::size_t count_ = 0;
};

// Decodes with `copy_to`.
inline bytes inflate_push(const bytes& compressed, int extent = 15) {
    stream::array_input source(compressed.data(), static_cast<std::uint32_t>(compressed.size()));
    algorithm::flate::decompressor inflater(source, extent, false);
    bytes result;
    stream::vector_output target(result);
    inflater.copy_to(target);
    inflater.finish();
    return result;
}

// Decodes with `read` and `get`, in pieces of varying size.
inline bytes inflate_pull(const bytes& compressed, int extent = 15) {
    stream::array_input source(compressed.data(), static_cast<std::uint32_t>(compressed.size()));
    algorithm::flate::decompressor inflater(source, extent, false);
    bytes result;
    std::uint8_t piece[70000];
    std::uint32_t sizes[] = {1, 7, 4096, 65536, 70000, 300};
    for (unsigned i = 0;; ++i) {
        if (i % 5 == 4) {
            int byte = inflater.get();
            if (byte < 0) break;
            result.push_back(static_cast<std::uint8_t>(byte));
            continue;
        }
        std::uint32_t got = inflater.read(piece, sizes[i % 6]);
        if (got == 0) break;
        result.insert(result.end(), piece, piece + got);
    }
    inflater.finish();
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

}  // namespace flate_test

namespace flate_test {

// The canonical codes of a table of code lengths (RFC 1951, 3.2.2).
inline std::vector<std::uint32_t> canonical_codes(const std::vector<int>& lengths) {
    int count[16] = {};
    for (int length : lengths) ++count[length];
    count[0] = 0;
    std::uint32_t next[16] = {};
    std::uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size());
    for (std::size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    return codes;
}

// Writes the header of a dynamic block (after BFINAL and BTYPE) whose
// code-length code gives 13 symbols 4 bits and 6 symbols 5 bits, and whose
// code lengths are given literally, one symbol each, or as `runs`: pairs of
// (code-length symbol, extra bits value) written in place of the literal
// lengths. `distance_bits` is 5, or 6 for a stream that names its extent.
struct dynamic_header {
    std::vector<int> literal_lengths;
    std::vector<int> distance_lengths;
    std::vector<std::pair<int, int>> runs;  // if not empty, written instead
    int distance_bits = 5;

    static std::vector<int> length_code_lengths() {
        // By symbol 0..18: 16, 17, 18, 0..9 get 4 bits; 10..15 get 5 bits.
        std::vector<int> lengths(19, 4);
        for (int s = 10; s <= 15; ++s) lengths[s] = 5;
        return lengths;
    }

    void write(bit_writer& out) const {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        out.field(static_cast<std::uint32_t>(literal_lengths.size() - 257), 5);
        out.field(static_cast<std::uint32_t>(distance_lengths.size() - 1), distance_bits);
        out.field(19 - 4, 4);
        auto code_lengths = length_code_lengths();
        for (int i = 0; i < 19; ++i) out.field(code_lengths[order[i]], 3);
        auto codes = canonical_codes(code_lengths);
        auto symbol = [&](int s) { out.code(codes[s], code_lengths[s]); };
        if (!runs.empty()) {
            for (auto [s, extra] : runs) {
                symbol(s);
                if (s == 16) out.field(extra, 2);
                if (s == 17) out.field(extra, 3);
                if (s == 18) out.field(extra, 7);
            }
            return;
        }
        for (int length : literal_lengths) symbol(length);
        for (int length : distance_lengths) symbol(length);
    }
};

}  // namespace flate_test
