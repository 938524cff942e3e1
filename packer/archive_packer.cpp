#include "packer/archive_packer.h"

#include <zlib.h>

#include <algorithm>

#include "packer/aes_encryptor.h"
#include "packer/input_file.h"
#include "packer/traditional_encryptor.h"
#include "zip/checksum/crc32.h"
#include "zip/records.h"

namespace quillon::pack {

namespace {

namespace records = format::zip::records;

std::uint32_t crc_of(const std::uint8_t* data, std::size_t size) {
    algorithm::crc32 crc;
    crc.update(data, size);
    crc.finish();
    return crc.value();
}

// The CRC of two runs of bytes one after the other, from theirs.
std::uint32_t crc_joined(std::uint32_t first, std::uint32_t second, std::uint64_t second_size) {
    return static_cast<std::uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(second_size)));
}

entry_info info_of(const input_entry& entry) { return {entry.name, entry.modified, entry.mode}; }

input_file::kind file_kind(bool follow_links) {
    return follow_links ? input_file::kind::packed_through_link : input_file::kind::packed;
}

}  // namespace

// The CRC kernel is chosen on its first use, which is not safe from two
// threads at once: it is chosen here, before the workers start.
unsigned archive_packer::with_crc_chosen(unsigned workers) {
    algorithm::crc32::active();
    return std::max(workers, 1u);
}

archive_packer::archive_packer(output_file& out, const pack_settings& settings)
    : out_(out),
      settings_(settings),
      writer_(out),
      workers_(std::max(settings.workers, 1u)),
      pool_(with_crc_chosen(settings.workers)) {
    if (settings.level == 0) return;
    const std::unique_ptr<compressor> one = make_compressor(settings.method, settings.level);
    method_ = one->method();
    independent_pieces_ = one->independent_pieces();
}

archive_packer::~archive_packer() = default;

void archive_packer::plan(const input_entry& entry) {
    if (entry.kind == entry_kind::folder) return;
    total_ += entry.size;
    if (entry.kind == entry_kind::link || entry.size <= whole_limit) {
        jobs_.push_back({job::kind::whole, &entry, 0, entry.size});
        return;
    }
    if (settings_.cipher == encryption::traditional && !settings_.passphrase.empty())
        jobs_.push_back({job::kind::checksum, &entry, 0, piece_size});
    for (std::uint64_t at = 0; at < entry.size; at += piece_size)
        jobs_.push_back({job::kind::piece, &entry, at, std::min(piece_size, entry.size - at)});
}

void archive_packer::pack(const std::vector<input_entry>& entries) {
    for (const input_entry& entry : entries) plan(entry);
    for (const input_entry& entry : entries) {
        if (entry.kind == entry_kind::folder)
            write_folder(entry);
        else if (entry.kind == entry_kind::link || entry.size <= whole_limit)
            write_whole(entry);
        else
            write_streamed(entry);
    }
    writer_.finish(settings_.comment);
}

// -- the workers' side

void archive_packer::start_jobs() {
    const std::size_t most = std::size_t{pieces_per_worker} * pool_.size();
    while (next_job_ < jobs_.size() && running_.size() < most &&
           (running_.empty() || bytes_running_ + jobs_[next_job_].length <= bytes_in_flight)) {
        const job& j = jobs_[next_job_++];
        auto promise = std::make_shared<std::promise<result>>();
        running_.emplace_back(j.length, promise->get_future());
        bytes_running_ += j.length;
        pool_.submit([this, &j, promise](unsigned worker) {
            try {
                promise->set_value(run(j, worker));
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
    }
}

archive_packer::result archive_packer::next_result() {
    start_jobs();
    auto [length, future] = std::move(running_.front());
    running_.pop_front();
    result r = future.get();
    bytes_running_ -= length;
    start_jobs();
    return r;
}

archive_packer::result archive_packer::run(const job& j, unsigned worker) {
    switch (j.what) {
        case job::kind::whole:
            return read_whole(*j.entry, worker);
        case job::kind::piece:
            return read_piece(j, worker);
        case job::kind::checksum:
            break;
    }
    return read_checksum(*j.entry);
}

compressor& archive_packer::compressor_of(unsigned worker) {
    std::unique_ptr<compressor>& c = workers_[worker].compress;
    if (!c) c = make_compressor(settings_.method, settings_.level);
    return *c;
}

// Reads `size` bytes from `at` of the entry's file into `buffer` (kept from
// one job to the next, grown as needed); the file must end where the walk
// found it ending when they are its last bytes.
const std::uint8_t* archive_packer::read_into(std::vector<std::uint8_t>& buffer, const input_entry& entry,
                                              std::uint64_t at, std::size_t size) {
    if (buffer.size() < size) buffer.resize(size);
    input_file file(entry.path, file_kind(settings_.follow_links));
    file.read_at(at, buffer.data(), size);
    if (at + size == entry.size) file.check_ends_at(entry.size);
    return buffer.data();
}

archive_packer::result archive_packer::read_whole(const input_entry& entry, unsigned worker) {
    const auto size = static_cast<std::size_t>(entry.size);
    // A link's data is its target.
    const std::uint8_t* data = entry.kind == entry_kind::link
                                   ? reinterpret_cast<const std::uint8_t*>(entry.target.data())
                                   : read_into(workers_[worker].input, entry, 0, size);
    result r;
    r.size = size;
    r.crc = crc_of(data, size);
    if (settings_.level > 0 && size > 0) r.bytes = compressor_of(worker).whole(data, size);
    r.compressed = !r.bytes.empty();
    if (!r.compressed) r.bytes.assign(data, data + size);
    return r;
}

archive_packer::result archive_packer::read_piece(const job& j, unsigned worker) {
    const auto size = static_cast<std::size_t>(j.length);
    const std::uint8_t* data = read_into(workers_[worker].input, *j.entry, j.offset, size);
    result r;
    r.size = size;
    r.crc = crc_of(data, size);
    // Pieces that depend on those before are compressed by the writer.
    r.compressed = settings_.level > 0 && independent_pieces_;
    if (r.compressed)
        r.bytes = compressor_of(worker).piece(data, size, j.offset + size == j.entry->size);
    else
        r.bytes.assign(data, data + size);
    return r;
}

archive_packer::result archive_packer::read_checksum(const input_entry& entry) {
    input_file file(entry.path, file_kind(settings_.follow_links));
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(piece_size));
    result r;
    for (std::uint64_t at = 0; at < entry.size; at += piece_size) {
        const auto n = static_cast<std::size_t>(std::min(piece_size, entry.size - at));
        file.read_at(at, piece.data(), n);
        r.crc = crc_joined(r.crc, crc_of(piece.data(), n), n);
    }
    file.check_ends_at(entry.size);
    return r;
}

// -- the writer's side

void archive_packer::advance(std::uint64_t bytes, const input_entry& entry) {
    done_ += bytes;
    progress_.show(done_, total_, entry.name);
}

void archive_packer::write_folder(const input_entry& entry) {
    progress_.show(done_, total_, entry.name);
    writer_.begin_entry(info_of(entry), entry_data{}, false);
    writer_.end_entry(entry_data{});
}

std::uint64_t archive_packer::encryption_overhead() const {
    switch (settings_.cipher) {
        case encryption::aes:
            return aes_encryptor::overhead();
        case encryption::traditional:
            return records::encryption_header_len;
        case encryption::none:
            break;
    }
    return 0;
}

// The entry's encryptor, its header written; none when it is not encrypted.
std::unique_ptr<entry_encryptor> archive_packer::start_encryption(const entry_data& data) {
    std::unique_ptr<entry_encryptor> cipher;
    if (data.cipher == encryption::aes)
        cipher = std::make_unique<aes_encryptor>(settings_.passphrase);
    else if (data.cipher == encryption::traditional)
        cipher = std::make_unique<traditional_encryptor>(settings_.passphrase, data.crc);
    if (!cipher) return cipher;
    const std::vector<std::uint8_t> header = cipher->header();
    out_.write(header.data(), header.size());
    return cipher;
}

void archive_packer::end_encryption(entry_encryptor* cipher) {
    if (!cipher) return;
    const std::vector<std::uint8_t> trailer = cipher->trailer();
    out_.write(trailer.data(), trailer.size());
}

void archive_packer::write_payload(const std::uint8_t* bytes, std::size_t size, entry_encryptor* cipher) {
    if (!cipher) return out_.write(bytes, size);
    scratch_.resize(1 << 16);
    for (std::size_t at = 0; at < size; at += scratch_.size()) {
        const std::size_t n = std::min(scratch_.size(), size - at);
        std::copy(bytes + at, bytes + at + n, scratch_.begin());
        cipher->encrypt(scratch_.data(), n);
        out_.write(scratch_.data(), n);
    }
}

void archive_packer::write_whole(const input_entry& entry) {
    result r = next_result();
    // Links keep their target readable: it is no secret, and the stub
    // checks every link before it extracts anything.
    const bool encrypted = !settings_.passphrase.empty() && entry.kind == entry_kind::file;
    entry_data data;
    data.method = r.compressed ? method_ : records::stored;
    data.cipher = encrypted ? settings_.cipher : encryption::none;
    data.crc = r.crc;
    data.compressed = r.bytes.size() + (encrypted ? encryption_overhead() : 0);
    data.uncompressed = r.size;
    writer_.begin_entry(info_of(entry), data, false);
    const std::unique_ptr<entry_encryptor> cipher = start_encryption(data);
    write_payload(r.bytes.data(), r.bytes.size(), cipher.get());
    end_encryption(cipher.get());
    writer_.end_entry(data);
    advance(r.size, entry);
}

void archive_packer::write_streamed(const input_entry& entry) {
    const bool encrypted = !settings_.passphrase.empty();
    const std::uint64_t overhead = encrypted ? encryption_overhead() : 0;
    entry_data data;
    data.method = settings_.level > 0 ? method_ : records::stored;
    data.cipher = encrypted ? settings_.cipher : encryption::none;
    data.uncompressed = entry.size;
    const bool crc_first = data.cipher == encryption::traditional;
    if (crc_first) data.crc = next_result().crc;
    // Compressed data is written only when smaller than stored data, so
    // the stored size bounds the compressed one.
    writer_.begin_entry(info_of(entry), data, zip_writer::needs_zip64(entry.size + overhead));
    const std::uint64_t data_start = out_.position();
    const std::unique_ptr<entry_encryptor> cipher = start_encryption(data);
    // Pieces that the workers could not compress on their own.
    std::unique_ptr<compressor> in_order;
    if (settings_.level > 0 && !independent_pieces_) in_order = make_compressor(settings_.method, settings_.level);

    std::uint32_t crc = 0;
    std::uint64_t written = 0, done = 0;
    for (std::uint64_t at = 0; at < entry.size; at += piece_size) {
        result r = next_result();
        crc = crc_joined(crc, r.crc, r.size);
        done += r.size;
        if (in_order) r.bytes = in_order->piece(r.bytes.data(), r.bytes.size(), done == entry.size);
        write_payload(r.bytes.data(), r.bytes.size(), cipher.get());
        written += r.bytes.size();
        advance(r.size, entry);
    }
    end_encryption(cipher.get());
    if (crc_first && crc != data.crc) input_file(entry.path, file_kind(settings_.follow_links)).changed();
    data.crc = crc;
    data.compressed = written + overhead;
    if (data.method != records::stored && written >= entry.size) write_stored_again(entry, data, data_start);
    writer_.end_entry(data);
}

// Deflating did not make the file smaller: its data goes again, stored.
void archive_packer::write_stored_again(const input_entry& entry, entry_data& data, std::uint64_t data_start) {
    out_.truncate(data_start);
    const std::unique_ptr<entry_encryptor> cipher = start_encryption(data);
    input_file file(entry.path, file_kind(settings_.follow_links));
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(piece_size));
    std::uint32_t crc = 0;
    for (std::uint64_t at = 0; at < entry.size; at += piece_size) {
        const auto n = static_cast<std::size_t>(std::min(piece_size, entry.size - at));
        file.read_at(at, piece.data(), n);
        crc = crc_joined(crc, crc_of(piece.data(), n), n);
        write_payload(piece.data(), n, cipher.get());
    }
    file.check_ends_at(entry.size);
    if (crc != data.crc) file.changed();
    end_encryption(cipher.get());
    data.method = records::stored;
    data.compressed = entry.size + (data.cipher == encryption::none ? 0 : encryption_overhead());
}

}  // namespace quillon::pack
