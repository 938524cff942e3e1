#include "zip/item_reader.h"

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/filter_output.h"
#include "stream/limited_input.h"
#include "zip/checksum/crc32.h"
#include "zip/checksum/digesting_output.h"
#include "zip/decrypting_input.h"
#include "zip/extended_header.h"
#include "zip/records.h"

namespace format::zip {

namespace {

[[noreturn]] void fail(const char* message) { throw format::exception(message, "format::zip::item_reader"); }

// Passes on at most the entry's declared size: a byte more stops the entry
// before it reaches the file, so that data that lies about its size (a
// small declared entry inflating to gigabytes) is never written whole.
class declared_size_output : public stream::filter_output {
public:
    declared_size_output(stream::output& target, stream::size_type declared)
        : stream::filter_output(target), left_(declared) {}

    using stream::filter_output::write;
    void write(const std::string& text) override { write(text.data(), static_cast<std::uint32_t>(text.size())); }
    void write(const void* bytes, std::uint32_t length) override {
        take(length);
        target().write(bytes, length);
    }
    void put(int byte) override {
        take(1);
        target().put(byte);
    }
    void fill(stream::size_type count, int byte) override {
        take(count);
        target().fill(count, byte);
    }
    // Through `write`, so that nothing passes uncounted.
    void copy_from(stream::input& source) override { stream::output::copy_from(source); }

    stream::size_type left() const { return left_; }

private:
    void take(stream::size_type count) {
        if (count > left_) fail("data longer than its declared size");
        left_ -= count;
    }

    stream::size_type left_;
};

}  // namespace

void item_reader::prepare(stream::input& input, const std::string& passphrase) {
    const entry_fields& entry = header_->fields;
    if (!entry.encrypted()) return;
    cipher_.passphrase = passphrase;
    cipher_.reset();
    encryption_.check_byte = entry.has_descriptor() ? entry.check_byte : static_cast<std::uint8_t>(entry.crc >> 24);
    encryption_.enabled = true;
    encryption_.read(input, true);
}

void item_reader::decode(stream::input& source, stream::output& target, stream::size_type stored_size,
                         bool give_back_bits) {
    if (!supported(header_->fields)) fail("unsupported compression method");
    if (header_->fields.method == records::stored) {
        // A small entry gets a buffer of its own size, not a large one
        // that would be allocated and touched for every file.
        const stream::size_type buffer = stored_size < copy_buffer_size ? stored_size : copy_buffer_size;
        stream::copy_transform copy(static_cast<std::uint32_t>(buffer == 0 ? 1 : buffer));
        copy.process(source, target, stored_size);
        return;
    }
    algorithm::flate::decompressor inflater(source, deflate_extent, give_back_bits);
    inflater.copy_to(target);
    inflater.finish();
}

stream::size_type item_reader::process(stream::input& input, stream::output& output) {
    const stream::size_type start = output.position();
    const entry_fields& entry = header_->fields;
    algorithm::crc32 digest;
    stream::digesting_output digesting(output, digest);
    declared_size_output checked(digesting, entry.uncompressed_size);

    const bool encrypted = entry.encrypted();
    const bool has_descriptor = entry.has_descriptor();
    // An unencrypted entry whose size was unknown when it was written (and is
    // missing from the central directory too) is read up to where its Deflate
    // data ends; the decoder then gives back every byte it did not use, so the
    // descriptor is read from the right place.
    const bool unknown_size = has_descriptor && entry.compressed_size == 0 && !encrypted;

    // The data after the encryption header, which `prepare` consumed. An
    // encrypted entry is read through the same limit as any other, so that
    // nothing beyond its data is read ahead and left decrypted in the
    // decrypting input.
    stream::size_type data_size = entry.compressed_size;
    if (encrypted) data_size = data_size >= encryption_.size() ? data_size - encryption_.size() : 0;

    stream::limited_input limited(input, data_size);
    stream::decrypting_input decrypted(limited, cipher_);
    stream::input* source = unknown_size ? &input : &limited;
    if (encrypted) source = &decrypted;

    const stream::size_type before = input.position();
    decode(*source, checked, data_size, unknown_size);
    output.flush();
    if (checked.left() != 0) fail("data shorter than its declared size");

    // The CRC is the header's (the directory's, for an entry with a
    // descriptor) or, when there is one, the descriptor's.
    digest.finish();
    bool matches = digest.value() == entry.crc;
    if (has_descriptor) {
        // The descriptor follows the whole compressed size, also when the
        // Deflate data ended early inside it.
        if (!unknown_size) limited.skip(stream::everything);
        format::zip::extended_header descriptor;
        descriptor.read_after(input, input.position() - before + (encrypted ? encryption_.size() : 0),
                              output.position() - start, entry.zip64);
        matches = matches || digest.value() == descriptor.crc;
    }
    if (!matches) throw format::crc_exception("CRC mismatch, data is invalid", "format::zip::item_reader");
    return output.position() - start;
}

}  // namespace format::zip
