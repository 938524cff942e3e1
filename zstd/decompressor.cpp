#include "zstd/decompressor.h"

#include <algorithm>
#include <cstring>

#include "errors/exception.h"
#include "stream/output.h"
#include "zstd/bit_reader.h"

namespace algorithm::zstd {

namespace {

// Frame magic numbers, little-endian (RFC 8878, 3.1.1 and 3.1.2).
constexpr std::uint32_t frame_magic = 0xFD2FB528;
constexpr std::uint32_t skippable_magic = 0x184D2A50;  // to 0x184D2A5F
constexpr std::uint32_t skippable_mask = 0xFFFFFFF0;

// Frame header descriptor fields.
constexpr unsigned reserved_bit = 1u << 3;
constexpr unsigned checksum_bit = 1u << 2;
constexpr unsigned single_segment_bit = 1u << 5;
constexpr std::uint8_t dictionary_id_bytes[4] = {0, 1, 2, 4};
constexpr std::uint8_t content_size_bytes[4] = {0, 2, 4, 8};
constexpr unsigned largest_header = 1 + 4 + 8;  // window, dictionary ID, content size

constexpr unsigned block_header_bytes = 3;
enum block_type { raw_block = 0, rle_block = 1, compressed_block = 2 };

// Literals section types.
enum literals_type { raw_literals = 0, rle_literals = 1, compressed_literals = 2, treeless_literals = 3 };
// Header bytes of Huffman-coded literals by size format: one stream with
// 10-bit sizes, four streams with 10, 14 and 18-bit sizes.
constexpr unsigned compressed_header_bytes[4] = {3, 3, 4, 5};

// The buffer holds the window, one block and the slack of its copies, and
// once more the slack: a segment ends (the buffer starts over) when a
// block and its slack no longer fit, so the previous segment then holds
// the window plus `copy_slack` bytes, and the oldest byte a match may take
// from it lies at least `copy_slack` bytes after anything written since.
constexpr std::size_t slack = sequences::copy_slack;

std::uint64_t little_endian(const std::uint8_t* p, unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= std::uint64_t{p[i]} << (8 * i);
    return value;
}

}  // namespace

decompressor::decompressor(stream::input& source, stream::size_type expected_size)
    : decompressor(source, expected_size, active()) {}

decompressor::decompressor(stream::input& source, stream::size_type expected_size, fast_loops loops)
    : generator_input(&source), expected_size(expected_size) {
    codes.loops = loops;
    literal_code.bmi2 = loops == fast_loops::bmi2;
}

void decompressor::fail(const char* message) { throw algorithm::exception(message, "algorithm::zstd::decompressor"); }

std::uint32_t decompressor::read_some(void* bytes, std::uint32_t length) {
    auto* at = static_cast<std::uint8_t*>(bytes);
    std::uint32_t got = 0;
    while (got < length) {
        const std::uint32_t n = source()->read(at + got, length - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

void decompressor::read_exact(void* bytes, std::uint32_t length) {
    if (read_some(bytes, length) != length) fail("unexpected end of compressed data");
}

stream::size_type decompressor::copy_to(stream::output& to) {
    target = &to;
    const stream::size_type start = delivered;
    while (step()) {
    }
    to.flush();
    return delivered - start;
}

stream::size_type decompressor::produce(stream::size_type minimum) {
    target = &sink();
    const stream::size_type start = delivered;
    while (delivered - start < minimum && step()) {
    }
    return delivered - start;
}

bool decompressor::step() {
    switch (now) {
        case state::ended:
            return false;
        case state::in_frame:
            decode_block();
            return true;
        case state::between_frames:
            break;
    }
    std::uint8_t magic[4];
    const std::uint32_t got = read_some(magic, 4);
    if (got == 0) {
        if (!any_frame) fail("no frame");
        now = state::ended;
        return false;
    }
    if (got < 4) fail("unexpected end of compressed data");
    any_frame = true;
    const auto number = static_cast<std::uint32_t>(little_endian(magic, 4));
    if ((number & skippable_mask) == skippable_magic) {
        std::uint8_t size[4];
        read_exact(size, 4);
        const stream::size_type length = little_endian(size, 4);
        if (source()->skip(length) != length) fail("unexpected end of compressed data");
        return true;
    }
    if (number != frame_magic) fail("bad magic number");
    start_frame();
    return true;
}

void decompressor::start_frame() {
    std::uint8_t descriptor;
    read_exact(&descriptor, 1);
    if (descriptor & reserved_bit) fail("reserved bit set in the frame header");
    const bool single_segment = descriptor & single_segment_bit;
    const unsigned size_flag = descriptor >> 6;
    const unsigned window_bytes = single_segment ? 0 : 1;
    const unsigned id_bytes = dictionary_id_bytes[descriptor & 3];
    const unsigned size_bytes = size_flag == 0 && single_segment ? 1 : content_size_bytes[size_flag];
    std::uint8_t header[largest_header];
    read_exact(header, window_bytes + id_bytes + size_bytes);

    if (little_endian(header + window_bytes, id_bytes) != 0) fail("dictionaries are not supported");
    content_size = stream::unknown_size;
    if (size_bytes > 0) {
        content_size = little_endian(header + window_bytes + id_bytes, size_bytes);
        if (size_bytes == 2) content_size += 256;
    }
    // The declared window: 2^(10 + exponent) plus eighths of it, or the
    // whole content of a single segment.
    stream::size_type declared = content_size;
    if (!single_segment) {
        const unsigned exponent = header[0] >> 3;
        const stream::size_type base = stream::size_type{1} << (10 + exponent);
        declared = base + (base >> 3) * (header[0] & 7);
    }
    stream::size_type needed = declared;
    if (content_size != stream::unknown_size) needed = std::min(needed, content_size);
    if (expected_size != stream::unknown_size) needed = std::min(needed, expected_size);
    if (needed > max_window) fail("frame window too large");
    window = static_cast<std::uint32_t>(needed);
    block_limit = static_cast<std::uint32_t>(std::min<stream::size_type>(declared, max_block));
    checksummed = descriptor & checksum_bit;
    decoded = 0;
    hash.reset();
    literal_code.ready = false;
    codes.reset();

    const std::size_t wanted = std::size_t{window} + block_limit + 2 * slack;
    if (capacity < wanted) {
        buffer.reset();  // before the new one: never both at once
        buffer.reset(new std::uint8_t[wanted]);
        capacity = wanted;
    }
    out = segment = buffer.get();
    previous_end = nullptr;
    previous_size = 0;
    now = state::in_frame;
}

void decompressor::make_room() {
    // Start over at the front when a block and its slack do not fit.
    if (capacity - static_cast<std::size_t>(out - buffer.get()) >= block_limit + slack) return;
    previous_end = out;
    previous_size = static_cast<std::size_t>(out - buffer.get());
    out = segment = buffer.get();
}

void decompressor::decode_block() {
    std::uint8_t header[block_header_bytes];
    read_exact(header, block_header_bytes);
    const auto fields = static_cast<std::uint32_t>(little_endian(header, block_header_bytes));
    const bool last = fields & 1;
    const unsigned type = (fields >> 1) & 3;
    const std::uint32_t size = fields >> 3;
    if (size > block_limit) fail("block larger than its maximum");
    make_room();
    std::uint8_t* const block_start = out;
    switch (type) {
        case raw_block:
            read_exact(out, size);
            out += size;
            break;
        case rle_block: {
            std::uint8_t byte;
            read_exact(&byte, 1);
            std::memset(out, byte, size);
            out += size;
            break;
        }
        case compressed_block:
            decode_compressed(size);
            break;
        default:
            fail("reserved block type");
    }
    end_block(block_start);
    if (last) end_frame();
}

void decompressor::end_block(std::uint8_t* block_start) {
    const auto produced = static_cast<std::uint32_t>(out - block_start);
    decoded += produced;
    if (decoded > content_size) fail("frame content size mismatch");
    if (checksummed) hash.update(block_start, produced);
    target->write(block_start, produced);
    delivered += produced;
}

void decompressor::end_frame() {
    if (content_size != stream::unknown_size && decoded != content_size) fail("frame content size mismatch");
    if (checksummed) {
        std::uint8_t stored[4];
        read_exact(stored, 4);
        if (little_endian(stored, 4) != (hash.digest() & 0xFFFFFFFF)) fail("content checksum mismatch");
    }
    now = state::between_frames;
}

void decompressor::decode_compressed(std::uint32_t size) {
    if (block.size() < bit_reader::front_margin + block_limit + slack) {
        block.assign(bit_reader::front_margin + block_limit + slack, 0);
        literals.assign(block_limit + slack, 0);
    }
    std::uint8_t* const data = block.data() + bit_reader::front_margin;
    read_exact(data, size);
    const std::uint8_t* const end = data + size;

    // The literals section header: type, size format, sizes.
    if (size < 1) fail("truncated literals section");
    const unsigned type = data[0] & 3;
    const unsigned format = (data[0] >> 2) & 3;
    unsigned header_bytes;
    std::uint32_t count;           // literals
    std::uint32_t compressed = 0;  // bytes of Huffman-coded literals
    if (type == raw_literals || type == rle_literals) {
        header_bytes = format == 1 ? 2 : format == 3 ? 3 : 1;
        if (size < header_bytes) fail("truncated literals section");
        const auto fields = static_cast<std::uint32_t>(little_endian(data, header_bytes));
        count = header_bytes == 1 ? fields >> 3 : fields >> 4;
    } else {
        header_bytes = compressed_header_bytes[format];
        if (size < header_bytes) fail("truncated literals section");
        const std::uint64_t fields = little_endian(data, header_bytes);
        const unsigned bits = format <= 1 ? 10 : format == 2 ? 14 : 18;
        count = static_cast<std::uint32_t>((fields >> 4) & ((1u << bits) - 1));
        compressed = static_cast<std::uint32_t>(fields >> (4 + bits));
    }
    if (count > block_limit) fail("literals larger than a block");
    const std::uint8_t* p = data + header_bytes;
    const std::uint8_t* literal_bytes = literals.data();
    switch (type) {
        case raw_literals:
            if (count > static_cast<std::size_t>(end - p)) fail("truncated literals section");
            literal_bytes = p;
            p += count;
            break;
        case rle_literals:
            if (end - p < 1) fail("truncated literals section");
            std::memset(literals.data(), *p, count);
            p += 1;
            break;
        default: {
            if (compressed > static_cast<std::size_t>(end - p)) fail("truncated literals section");
            std::size_t table_bytes = 0;
            if (type == compressed_literals)
                table_bytes = literal_code.read(p, compressed);
            else if (!literal_code.ready)
                fail("treeless literals without a previous table");
            if (format == 0)
                literal_code.decode_one(p + table_bytes, compressed - table_bytes, literals.data(), count);
            else
                literal_code.decode_four(p + table_bytes, compressed - table_bytes, literals.data(), count);
            p += compressed;
        }
    }

    history to{out, out + block_limit, segment, previous_end, previous_size, window};
    codes.run(p, static_cast<std::size_t>(end - p), literal_bytes, count, to);
    out = to.out;
}

}  // namespace algorithm::zstd
