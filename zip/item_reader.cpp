#include "zip/item_reader.h"

#include "errors/exception.h"
#include "stream/filter_output.h"
#include "stream/limited_input.h"
#include "zip/checksum/crc32.h"
#include "zip/checksum/digesting_output.h"
#include "zip/decrypting_input.h"
#include "zip/extended_header.h"
#include "zip/method.h"

namespace format::zip {

namespace {

const char* const where = "format::zip::item_reader";

[[noreturn]] void fail(const std::string& message) { throw format::exception(message, where); }

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

item_reader::item_reader(const local_header& header) : header_(&header), cipher_(open_cipher(header.fields)) {}

void item_reader::prepare(stream::input& input, const std::string& passphrase) {
    if (cipher_) cipher_->start(input, passphrase);
}

stream::size_type item_reader::process(stream::input& input, stream::output& output) {
    const stream::size_type start = output.position();
    const entry_fields& entry = header_->fields;
    const std::uint16_t number = entry.data_method();
    const method* decoder_method = supported(entry) ? find_method(number) : nullptr;
    if (decoder_method == nullptr)
        fail("unsupported compression method " + std::to_string(number) + " (" + method_name(number) + ")");
    algorithm::crc32 digest;
    stream::digesting_output digesting(output, digest);
    declared_size_output checked(digesting, entry.uncompressed_size);

    const bool has_descriptor = entry.has_descriptor();
    // An unencrypted entry whose size was unknown when it was written (and is
    // missing from the central directory too) is read up to where its data
    // ends; the decoder then gives back every byte it did not use, so the
    // descriptor is read from the right place.
    const bool unknown_size = has_descriptor && entry.compressed_size == 0 && !cipher_;

    // The data between the cipher's header, which `prepare` consumed, and
    // its trailer. An encrypted entry is read through the same limit as any
    // other, so that nothing beyond its data is read ahead and left
    // decrypted in the decrypting input.
    const stream::size_type overhead = cipher_ ? cipher_->header_size() + cipher_->trailer_size() : 0;
    // A cipher whose code follows the data needs all its bytes there.
    if (cipher_ && cipher_->trailer_size() != 0 && entry.compressed_size < overhead && !unknown_size)
        fail("compressed size shorter than the encryption's own bytes");
    const stream::size_type data_size = entry.compressed_size >= overhead ? entry.compressed_size - overhead : 0;

    stream::limited_input limited(input, data_size);
    format::cipher plain;
    stream::decrypting_input decrypted(limited, cipher_ ? cipher_->data_cipher() : plain);
    stream::input* source = unknown_size ? &input : &limited;
    if (cipher_) source = &decrypted;

    const stream::size_type before = input.position();
    decoder_method->open({*source, data_size, entry.uncompressed_size, unknown_size, entry.flags})->decode(checked);
    output.flush();
    if (checked.left() != 0) fail("data shorter than its declared size");
    // The trailer and the descriptor follow the whole compressed size, also
    // when the decoder's data ended early inside it.
    if (!unknown_size) limited.skip(stream::everything);
    if (cipher_) cipher_->finish(input);

    // The CRC is the header's (the directory's, for an entry with a
    // descriptor) or, when there is one, the descriptor's.
    digest.finish();
    bool matches = digest.value() == entry.crc || (cipher_ && !cipher_->checks_crc());
    if (has_descriptor) {
        format::zip::extended_header descriptor;
        descriptor.read_after(input, input.position() - before + (cipher_ ? cipher_->header_size() : 0),
                              output.position() - start, entry.zip64);
        matches = matches || digest.value() == descriptor.crc;
    }
    if (!matches) throw format::crc_exception("CRC mismatch, data is invalid", where);
    return output.position() - start;
}

stream::size_type read_entry(archive& directory, const central_header& record, stream::size_type local_position,
                             const std::string& passphrase, stream::output& output) {
    local_header header;
    directory.read_local_header(local_position, record, header);
    item_reader reader(header);
    stream::fork_input& input = directory.input();
    reader.prepare(input, passphrase);
    return reader.process(input, output);
}

}  // namespace format::zip
