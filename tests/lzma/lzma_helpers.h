// Helpers of the LZMA tests: a symbol writer for hand-built streams (a
// range encoder with the decoder's models, told each literal and match by
// the test) and one-call decoding in push and pull mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "lzma/decompressor.h"
#include "stream/array_input.h"
#include "stream/vector_output.h"

namespace lzma_test {

using bytes = std::vector<std::uint8_t>;

// Writes LZMA symbols as an encoder would, keeping the bytes they stand
// for in `data()`. Distances are 1-based; a match reaching before the
// first byte is written all the same and adds nothing to `data()`.
class writer {
public:
    explicit writer(int lc = 3, int lp = 0, int pb = 2)
        : lc_(lc), lp_(lp), pb_(pb), models_(1846 + (0x300u << (lc + lp)), 1024) {}

    writer& literal(std::uint8_t byte) {
        bit(is_match(), 0);
        const std::uint32_t previous = data_.empty() ? 0 : data_.back();
        const std::uint32_t context = ((position() & ((1u << lp_) - 1)) << lc_) + (previous >> (8 - lc_));
        std::uint16_t* probs = &models_[literal_at + 0x300 * context];
        std::uint32_t symbol = 1;
        if (state_ < 7) {
            for (int i = 7; i >= 0; --i) symbol = tree_bit(probs, symbol, (byte >> i) & 1);
        } else {
            std::uint32_t match = at_distance(reps_[0] + 1);
            std::uint32_t agree = 0x100;
            for (int i = 7; i >= 0; --i) {
                const std::uint32_t b = (byte >> i) & 1;
                match <<= 1;
                const std::uint32_t match_bit = match & agree;
                bit(probs[agree + match_bit + symbol], b);
                symbol = symbol << 1 | b;
                agree &= b ? match_bit : ~match_bit;
            }
        }
        data_.push_back(byte);
        state_ = state_ < 4 ? 0 : state_ < 10 ? state_ - 3 : state_ - 6;
        return *this;
    }
    writer& text(const std::string& s) {
        for (char c : s) literal(static_cast<std::uint8_t>(c));
        return *this;
    }
    // A match of a new distance; `distance` 0x100000000 writes the end
    // marker's distance field.
    writer& match(std::uint64_t distance, std::uint32_t length) {
        bit(is_match(), 1);
        bit(models_[is_rep_at + state_], 0);
        write_length(match_length_at, length);
        state_ = state_ < 7 ? 7 : 10;
        reps_[3] = reps_[2];
        reps_[2] = reps_[1];
        reps_[1] = reps_[0];
        reps_[0] = static_cast<std::uint32_t>(distance - 1);
        write_distance(reps_[0], length);
        copy(distance, length);
        return *this;
    }
    writer& marker() { return match(0x100000000u, 2); }
    // A match at the `which`th last distance (0 to 3), of 2 bytes or more.
    writer& rep(int which, std::uint32_t length) {
        bit(is_match(), 1);
        bit(models_[is_rep_at + state_], 1);
        const std::uint32_t position_state = position() & ((1u << pb_) - 1);
        if (which == 0) {
            bit(models_[is_rep0_at + state_], 0);
            bit(models_[is_rep0_long_at + state_ * 16 + position_state], 1);
        } else {
            bit(models_[is_rep0_at + state_], 1);
            bit(models_[is_rep1_at + state_], which > 1);
            if (which > 1) bit(models_[is_rep2_at + state_], which > 2);
            const std::uint32_t distance = reps_[which];
            for (int i = which; i > 0; --i) reps_[i] = reps_[i - 1];
            reps_[0] = distance;
        }
        write_length(rep_length_at, length);
        state_ = state_ < 7 ? 8 : 11;
        copy(std::uint64_t{reps_[0]} + 1, length);
        return *this;
    }
    // One byte at the last distance.
    writer& short_rep() {
        bit(is_match(), 1);
        bit(models_[is_rep_at + state_], 1);
        bit(models_[is_rep0_at + state_], 0);
        bit(models_[is_rep0_long_at + state_ * 16 + (position() & ((1u << pb_) - 1))], 0);
        state_ = state_ < 7 ? 9 : 11;
        copy(std::uint64_t{reps_[0]} + 1, 1);
        return *this;
    }

    // The range coder's last bytes; the stream is complete.
    bytes finish() {
        for (int i = 0; i < 5; ++i) shift_low();
        return out_;
    }
    const bytes& data() const { return data_; }

    // The five property bytes of this writer's lc, lp, pb and `dictionary`.
    bytes properties(std::uint32_t dictionary) const {
        return {static_cast<std::uint8_t>((pb_ * 5 + lp_) * 9 + lc_), static_cast<std::uint8_t>(dictionary),
                static_cast<std::uint8_t>(dictionary >> 8), static_cast<std::uint8_t>(dictionary >> 16),
                static_cast<std::uint8_t>(dictionary >> 24)};
    }

private:
    static constexpr std::uint32_t is_rep_at = 192, is_rep0_at = 204, is_rep1_at = 216, is_rep2_at = 228,
                                   is_rep0_long_at = 240, slot_at = 432, special_at = 688, align_at = 802,
                                   match_length_at = 818, rep_length_at = 1332, literal_at = 1846;

    std::uint32_t position() const { return static_cast<std::uint32_t>(data_.size()); }
    std::uint16_t& is_match() { return models_[state_ * 16 + (position() & ((1u << pb_) - 1))]; }
    std::uint32_t at_distance(std::uint64_t distance) const {
        return distance <= data_.size() ? data_[data_.size() - distance] : 0;
    }
    void copy(std::uint64_t distance, std::uint32_t length) {
        if (distance > data_.size()) return;
        for (std::uint32_t i = 0; i < length; ++i) data_.push_back(data_[data_.size() - distance]);
    }

    void shift_low() {
        if (static_cast<std::uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
            const auto carry = static_cast<std::uint8_t>(low_ >> 32);
            std::uint8_t pending = cache_;
            do {
                out_.push_back(static_cast<std::uint8_t>(pending + carry));
                pending = 0xFF;
            } while (--cache_size_ != 0);
            cache_ = static_cast<std::uint8_t>(low_ >> 24);
        }
        ++cache_size_;
        low_ = (low_ & 0x00FFFFFF) << 8;
    }
    void normalize() {
        while (range_ < (1u << 24)) {
            range_ <<= 8;
            shift_low();
        }
    }
    void bit(std::uint16_t& p, std::uint32_t b) {
        const std::uint32_t bound = (range_ >> 11) * p;
        if (b == 0) {
            range_ = bound;
            p = static_cast<std::uint16_t>(p + ((2048 - p) >> 5));
        } else {
            low_ += bound;
            range_ -= bound;
            p = static_cast<std::uint16_t>(p - (p >> 5));
        }
        normalize();
    }
    std::uint32_t tree_bit(std::uint16_t* probs, std::uint32_t symbol, std::uint32_t b) {
        bit(probs[symbol], b);
        return symbol << 1 | b;
    }
    void tree(std::uint16_t* probs, std::uint32_t value, int bits) {
        std::uint32_t symbol = 1;
        for (int i = bits - 1; i >= 0; --i) symbol = tree_bit(probs, symbol, (value >> i) & 1);
    }
    void reverse_tree(std::uint16_t* probs, std::uint32_t value, int bits) {
        std::uint32_t symbol = 1;
        for (int i = 0; i < bits; ++i) symbol = tree_bit(probs, symbol, (value >> i) & 1);
    }
    void write_length(std::uint32_t at, std::uint32_t length) {
        std::uint16_t* coder = &models_[at];
        const std::uint32_t position_state = position() & ((1u << pb_) - 1);
        const std::uint32_t l = length - 2;
        if (l < 8) {
            bit(coder[0], 0);
            tree(coder + 2 + position_state * 8, l, 3);
        } else if (l < 16) {
            bit(coder[0], 1);
            bit(coder[1], 0);
            tree(coder + 130 + position_state * 8, l - 8, 3);
        } else {
            bit(coder[0], 1);
            bit(coder[1], 1);
            tree(coder + 258, l - 16, 8);
        }
    }
    void write_distance(std::uint32_t d, std::uint32_t length) {
        const std::uint32_t length_state = length - 2 < 4 ? length - 2 : 3;
        std::uint32_t slot = d;
        if (d >= 4) {
            int top = 31;
            while (!((d >> top) & 1)) --top;
            slot = 2 * static_cast<std::uint32_t>(top) + ((d >> (top - 1)) & 1);
        }
        tree(&models_[slot_at + length_state * 64], slot, 6);
        if (slot < 4) return;
        const int footer = static_cast<int>(slot >> 1) - 1;
        const std::uint32_t base = (2 | (slot & 1)) << footer;
        const std::uint32_t extra = d - base;
        if (slot < 14) {
            reverse_tree(&models_[special_at + base - slot - 1], extra, footer);
            return;
        }
        for (int i = footer - 5; i >= 0; --i) {
            range_ >>= 1;
            if ((extra >> (i + 4)) & 1) low_ += range_;
            normalize();
        }
        reverse_tree(&models_[align_at], extra & 15, 4);
    }

    int lc_, lp_, pb_;
    std::vector<std::uint16_t> models_;
    std::uint32_t state_ = 0;
    std::uint32_t reps_[4] = {};
    bytes data_;
    std::uint64_t low_ = 0;
    std::uint32_t range_ = 0xFFFFFFFF;
    std::uint8_t cache_ = 0;
    std::uint64_t cache_size_ = 1;
    bytes out_;
};

// A stream to decode: the property bytes, the size and marker flag the
// Zip layer would give, and the compressed bytes.
struct stream_case {
    bytes properties;
    std::uint64_t size;
    bool end_marker;
    bytes compressed;
};

inline algorithm::lzma::properties properties_of(const stream_case& c) {
    return algorithm::lzma::properties::parse(c.properties.data());
}

// Decodes with `copy_to`; `consumed` gets where the source stands after
// `finish`.
inline bytes decode_push(const stream_case& c, std::uint64_t* consumed = nullptr) {
    stream::array_input source(c.compressed.data(), static_cast<std::uint32_t>(c.compressed.size()));
    algorithm::lzma::decompressor decoder(source, properties_of(c), c.size, c.end_marker);
    bytes result;
    stream::vector_output target(result);
    decoder.copy_to(target);
    decoder.finish();
    if (consumed) *consumed = source.position();
    return result;
}

// Decodes with `read` and `get`, in pieces of varying size.
inline bytes decode_pull(const stream_case& c, std::uint64_t* consumed = nullptr) {
    stream::array_input source(c.compressed.data(), static_cast<std::uint32_t>(c.compressed.size()));
    algorithm::lzma::decompressor decoder(source, properties_of(c), c.size, c.end_marker);
    bytes result;
    std::vector<std::uint8_t> piece(300000);
    const std::uint32_t sizes[] = {1, 7, 4096, 65536, 300000, 300};
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
    if (consumed) *consumed = source.position();
    return result;
}

// The exception a call throws, as "where: message"; empty if none.
template <class Call>
std::string failure_of(Call call) {
    try {
        call();
    } catch (const algorithm::exception& failure) {
        return failure.where + ": " + failure.message;
    }
    return "";
}

}  // namespace lzma_test
