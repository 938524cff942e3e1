#include "io/text/utf8.h"

#include <cstdint>

namespace any::utf8 {
namespace {

constexpr char16_t escape_base = 0xDC00;  // + the byte, 0x80..0xFF
constexpr char16_t replacement = 0xFFFD;

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid sequence at `at`, 0 when there is none; the
// scalar value goes to `value`.
std::size_t sequence(const std::string& bytes, std::size_t at, char32_t& value) {
    auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, value = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        auto byte = static_cast<unsigned char>(bytes[at + i]);
        if (!is_continuation(byte)) return 0;
        value = (value << 6) | (byte & 0x3F);
    }
    bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value < minimum || surrogate || value > 0x10FFFF) return 0;
    return length;
}

void put(std::string& out, char32_t value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

bool is_high(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Encodes; a lone surrogate that is no escape fails, or becomes U+FFFD
// when `lenient`.
bool encode(const std::u16string& text, std::string& out, bool lenient) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (is_high(unit) && i + 1 < text.size() && is_low(text[i + 1])) {
            put(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= escape_base + 0x80 && unit <= escape_base + 0xFF) {
            out += static_cast<char>(unit - escape_base);
        } else if (is_high(unit) || is_low(unit)) {
            if (!lenient) return false;
            put(out, replacement);
        } else {
            put(out, unit);
        }
    }
    return true;
}

}  // namespace

std::u16string decode(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            out += char16_t(lead);
            ++at;
            continue;
        }
        char32_t value = 0;
        std::size_t length = sequence(bytes, at, value);
        if (length == 0) {
            out += char16_t(escape_base + lead);
            ++at;
        } else if (value < 0x10000) {
            out += char16_t(value);
            at += length;
        } else {
            value -= 0x10000;
            out += char16_t(0xD800 + (value >> 10));
            out += char16_t(0xDC00 + (value & 0x3FF));
            at += length;
        }
    }
    return out;
}

bool encode(const std::u16string& text, std::string& out) { return encode(text, out, false); }

std::string encode_lenient(const std::u16string& text) {
    std::string out;
    encode(text, out, true);
    return out;
}

}  // namespace any::utf8
