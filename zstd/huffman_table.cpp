#include "zstd/huffman_table.h"

#include "errors/exception.h"
#include "zstd/bit_reader.h"
#include "zstd/fse_table.h"

namespace algorithm::zstd {

namespace {

// FSE-compressed weights: values 0 to 255 may have a probability, accuracy
// at most 6 bits.
constexpr symbol_values weight_values{nullptr, nullptr, 255, 6};

// The fast loops take `lookups` codes per stream between word refills: a
// refill leaves at most 7 bits of the word consumed.
constexpr unsigned lookups = 5;
static_assert(7 + lookups * huffman_table::max_bits <= 63, "a refill covers the codes of a round");
// A refill steps back at most 7 bytes, so it stays inside the stream while
// `ptr` lies at least this far after its first byte.
constexpr std::ptrdiff_t fast_stream_margin = 7;

// Decodes into [out, end) from `r`, `lookups` codes per refill while the
// stream and the output allow, then code by code.
[[gnu::always_inline]] inline void decode_stream(bit_reader& r, const std::uint16_t* table, std::uint8_t* out,
                                                 std::uint8_t* end) {
    while (r.ptr - r.begin >= fast_stream_margin && end - out >= static_cast<std::ptrdiff_t>(lookups)) {
        r.refill_fast();
        for (unsigned i = 0; i < lookups; ++i) {
            const std::uint16_t entry = table[(r.word << r.consumed) >> (64 - huffman_table::max_bits)];
            r.consumed += entry & 0xFF;
            *out++ = static_cast<std::uint8_t>(entry >> 8);
        }
    }
    while (out < end) {
        r.refill();
        const std::uint16_t entry = table[r.peek(huffman_table::max_bits)];
        r.skip(entry & 0xFF);
        *out++ = static_cast<std::uint8_t>(entry >> 8);
    }
}

}  // namespace

void huffman_table::fail(const char* message) { throw algorithm::exception(message, "algorithm::zstd::huffman_table"); }

std::size_t huffman_table::read(const std::uint8_t* data, std::size_t size) {
    if (size == 0) fail("truncated Huffman tree description");
    std::uint8_t weights[max_symbols];
    unsigned count = 0;
    const unsigned header = data[0];
    std::size_t used;
    if (header >= 128) {
        // Weights of 4 bits, two to a byte, the first in the high half.
        count = header - 127;
        used = 1 + (count + 1) / 2;
        if (used > size) fail("truncated Huffman tree description");
        for (unsigned i = 0; i < count; ++i) weights[i] = (data[1 + i / 2] >> (i % 2 ? 0 : 4)) & 15;
    } else {
        used = 1 + header;
        if (used > size) fail("truncated Huffman tree description");
        fse_table table;
        const std::size_t described = table.read(data + 1, header, weight_values);
        bit_reader r;
        if (!r.start(data + 1 + described, header - described)) fail("bad Huffman weight stream");
        // Two states take turns; when a state's update runs past the
        // stream's start, the other state gives the last weight.
        unsigned states[2];
        states[0] = r.read(table.log);
        states[1] = r.read(table.log);
        r.refill();
        for (unsigned turn = 0;; turn ^= 1) {
            if (count > max_symbols - 3) fail("too many Huffman weights");
            const fse_table::entry& e = table.entries[states[turn]];
            weights[count++] = static_cast<std::uint8_t>(e.base);
            states[turn] = e.next_base + r.read(e.bits);
            r.refill();
            if (r.overread()) {
                weights[count++] = static_cast<std::uint8_t>(table.entries[states[turn ^ 1]].base);
                break;
            }
        }
    }
    build(weights, count);
    return used;
}

void huffman_table::build(const std::uint8_t* weights, unsigned count) {
    // Weights w > 0 stand for 2^(w - 1) slots; with the last symbol's
    // weight they make a power of two, 2^max_bits.
    std::uint32_t total = 0;
    std::uint32_t per_weight[max_bits + 2] = {};
    for (unsigned s = 0; s < count; ++s) {
        if (weights[s] > max_bits) fail("Huffman code longer than 11 bits");
        if (weights[s] > 0) total += std::uint32_t{1} << (weights[s] - 1);
        ++per_weight[weights[s]];
    }
    if (total == 0) fail("empty Huffman code");
    const unsigned bits = highest_bit(total) + 1;
    if (bits > max_bits) fail("Huffman code longer than 11 bits");
    const std::uint32_t rest = (std::uint32_t{1} << bits) - total;
    if (rest & (rest - 1)) fail("incomplete Huffman code");
    const unsigned last_weight = highest_bit(rest) + 1;
    ++per_weight[last_weight];
    // A complete code has an even number, at least two, of longest codes.
    if (per_weight[1] < 2 || per_weight[1] % 2) fail("incomplete Huffman code");

    // Longest codes (weight 1) first, each weight's symbols in order.
    const unsigned shift = max_bits - bits;
    std::uint32_t next[max_bits + 2];
    std::uint32_t position = 0;
    for (unsigned w = 1; w <= bits; ++w) {
        next[w] = position;
        position += per_weight[w] << (w - 1 + shift);
    }
    for (unsigned s = 0; s <= count; ++s) {
        const unsigned w = s < count ? weights[s] : last_weight;
        if (w == 0) continue;
        const std::uint16_t entry = static_cast<std::uint16_t>(s << 8 | (bits + 1 - w));
        const std::uint32_t slots = std::uint32_t{1} << (w - 1 + shift);
        for (std::uint32_t i = 0; i < slots; ++i) entries[next[w] + i] = entry;
        next[w] += slots;
    }
    ready = true;
}

void huffman_table::decode_one(const std::uint8_t* data, std::size_t size, std::uint8_t* out, std::size_t count) const {
    bit_reader r;
    if (!r.start(data, size)) fail("bad literal stream");
    decode_stream(r, entries, out, out + count);
    r.refill();
    if (!r.finished()) fail(r.overread() ? "truncated literal stream" : "literal stream not fully used");
}

void huffman_table::decode_four(const std::uint8_t* data, std::size_t size, std::uint8_t* out,
                                std::size_t count) const {
    constexpr std::size_t jump_table = 6;
    if (size < jump_table) fail("truncated literal jump table");
    std::size_t sizes[4];
    sizes[0] = data[0] | data[1] << 8;
    sizes[1] = data[2] | data[3] << 8;
    sizes[2] = data[4] | data[5] << 8;
    if (sizes[0] + sizes[1] + sizes[2] > size - jump_table) fail("truncated literal jump table");
    sizes[3] = size - jump_table - sizes[0] - sizes[1] - sizes[2];
    // Streams of (count + 3) / 4 literals, the last one with the rest.
    const std::size_t segment = (count + 3) / 4;
    if (3 * segment > count) fail("too few literals for four streams");

    bit_reader r[4];
    std::uint8_t* outs[4];
    std::uint8_t* ends[4];
    const std::uint8_t* stream = data + jump_table;
    for (int i = 0; i < 4; ++i) {
        if (!r[i].start(stream, sizes[i])) fail("bad literal stream");
        stream += sizes[i];
        outs[i] = out + i * segment;
        ends[i] = i < 3 ? outs[i] + segment : out + count;
    }

#if defined(__x86_64__)
    if (bmi2)
        four_streams_bmi2(r, outs, ends[3]);
    else
#endif
        four_streams_portable(r, outs, ends[3]);
    for (int i = 0; i < 4; ++i) {
        decode_stream(r[i], entries, outs[i], ends[i]);
        r[i].refill();
        if (!r[i].finished()) fail(r[i].overread() ? "truncated literal stream" : "literal stream not fully used");
    }
}

void huffman_table::four_streams_portable(bit_reader* r, std::uint8_t** outs, std::uint8_t* od_end) const {
    four_streams(r, outs, od_end);
}

#if defined(__x86_64__)
void huffman_table::four_streams_bmi2(bit_reader* r, std::uint8_t** outs, std::uint8_t* od_end) const {
    four_streams(r, outs, od_end);
}
#endif

// The four streams in turn, while each is far from its first byte and the
// last (shortest) output has room for a round.
[[gnu::always_inline]] inline void huffman_table::four_streams(bit_reader* r, std::uint8_t** outs,
                                                               std::uint8_t* const od_end) const {
    bit_reader a = r[0], b = r[1], c = r[2], d = r[3];
    std::uint8_t *oa = outs[0], *ob = outs[1], *oc = outs[2], *od = outs[3];
    const std::uint16_t* const table = entries;
    auto step = [table](bit_reader& s, std::uint8_t*& o) {
        const std::uint16_t entry = table[(s.word << s.consumed) >> (64 - max_bits)];
        s.consumed += entry & 0xFF;
        *o++ = static_cast<std::uint8_t>(entry >> 8);
    };
    while (a.ptr - a.begin >= fast_stream_margin && b.ptr - b.begin >= fast_stream_margin &&
           c.ptr - c.begin >= fast_stream_margin && d.ptr - d.begin >= fast_stream_margin &&
           od_end - od >= static_cast<std::ptrdiff_t>(lookups)) {
        a.refill_fast();
        b.refill_fast();
        c.refill_fast();
        d.refill_fast();
        for (unsigned i = 0; i < lookups; ++i) {
            step(a, oa);
            step(b, ob);
            step(c, oc);
            step(d, od);
        }
    }
    r[0] = a, r[1] = b, r[2] = c, r[3] = d;
    outs[0] = oa, outs[1] = ob, outs[2] = oc, outs[3] = od;
}

}  // namespace algorithm::zstd
