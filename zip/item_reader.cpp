#include "zip/item_reader.h"

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/decrypting_input.h"
#include "stream/digesting_output.h"
#include "stream/limited_input.h"
#include "zip/checksum/crc32.h"
#include "zip/extended_header.h"

namespace format::zip {

namespace {
constexpr std::uint16_t stored = 0;
constexpr std::uint16_t deflated = 8;
}  // namespace

void item_reader::prepare(stream::input& input, const std::string& passphrase) {
    if (!(header_->flags & local_header::encrypted_flag)) return;
    cipher_.passphrase = passphrase;
    cipher_.reset();
    encryption_.check_byte = (header_->flags & local_header::descriptor_flag)
                                 ? header_->check_byte
                                 : static_cast<std::uint8_t>(header_->crc >> 24);
    encryption_.enabled = true;
    encryption_.read(input, true);
}

void item_reader::decode(stream::input& source, stream::output& target, stream::size_type stored_size,
                         bool give_back_bits) {
    switch (header_->method) {
        case stored: {
            // A small entry gets a buffer of its own size, not a large one
            // that would be allocated and touched for every file.
            const stream::size_type buffer = stored_size < copy_buffer_size ? stored_size : copy_buffer_size;
            stream::copy_transform copy(static_cast<std::uint32_t>(buffer == 0 ? 1 : buffer));
            copy.process(source, target, stored_size);
            break;
        }
        case deflated: {
            algorithm::flate::decompressor inflater(source, deflate_extent, give_back_bits);
            inflater.copy_to(target);
            inflater.finish();
            break;
        }
        default:
            throw format::exception("unsupported compression method", "format::zip::item_reader");
    }
}

stream::size_type item_reader::process(stream::input& input, stream::output& output) {
    const stream::size_type start = output.position();
    algorithm::crc32 digest;
    stream::digesting_output checked(output, digest);

    const bool encrypted = header_->flags & local_header::encrypted_flag;
    const bool has_descriptor = header_->flags & local_header::descriptor_flag;
    // An unencrypted entry whose size was unknown when it was written (and is
    // missing from the central directory too) is read up to where its Deflate
    // data ends; the decoder then gives back every byte it did not use, so the
    // descriptor is read from the right place.
    const bool unknown_size = has_descriptor && header_->compressed_size == 0 && !encrypted;

    // The data after the encryption header, which `prepare` consumed. An
    // encrypted entry is read through the same limit as any other, so that
    // nothing beyond its data is read ahead and left decrypted in the
    // decrypting input.
    stream::size_type data_size = header_->compressed_size;
    if (encrypted) data_size = data_size >= encryption_.size() ? data_size - encryption_.size() : 0;

    stream::limited_input limited(input, data_size);
    stream::decrypting_input decrypted(limited, cipher_);
    stream::input* source = unknown_size ? &input : &limited;
    if (encrypted) source = &decrypted;

    decode(*source, checked, data_size, unknown_size);
    output.flush();

    format::zip::extended_header descriptor;
    if (has_descriptor) {
        // The descriptor follows the whole compressed size, also when the
        // Deflate data ended early inside it.
        if (!unknown_size) limited.skip(stream::everything);
        descriptor.read(input, true);
    }
    digest.finish();
    if (digest.value() != header_->crc && digest.value() != descriptor.crc)
        throw format::crc_exception("CRC mismatch, data is invalid", "format::zip::item_reader");
    return output.position() - start;
}

}  // namespace format::zip
