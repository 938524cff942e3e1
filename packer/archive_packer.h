// Packs the walked entries into a new archive after what the output holds
// already (the stub): files are read and compressed by a pool of workers
// while the archive is written in the walk's order by the calling thread,
// so that the bytes written do not depend on the number of workers.
//
// A file up to `whole_limit` is read, checked and compressed in memory in
// one piece (one call of the method's library); a larger one is streamed in
// pieces of `piece_size` (see compressor.h: Deflate and Zstandard pieces
// are compressed by the workers, LZMA pieces by the writing thread in
// order), its local header rewritten once its CRC and compressed size are
// known, and it is stored (read once more) when that is not smaller.
// Encrypting a large file with the traditional cipher needs its CRC before
// its data (the encryption header holds it): it is read a first time for
// that alone. WinZip AES (AE-2) stores no CRC and needs no such pass.
//
// Memory stays bounded: at most `pieces_per_worker` pieces per worker and
// `bytes_in_flight` input bytes are read ahead of the writing (always at
// least one piece).
#pragma once

#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "packer/compressor.h"
#include "packer/entry_encryptor.h"
#include "packer/input_tree.h"
#include "packer/output_file.h"
#include "packer/progress_line.h"
#include "packer/worker_pool.h"
#include "packer/zip_writer.h"

namespace quillon::pack {

struct pack_settings {
    int level = 6;  // 0 stores; 1 to 12 compresses
    method_choice method = method_choice::deflate;
    // Non-empty: files are encrypted with `cipher`. Borrowed: it must
    // outlive the packer.
    std::string_view passphrase;
    encryption cipher = encryption::aes;
    bool follow_links = false;
    unsigned workers = 1;
    std::string comment;  // the archive comment (an installer's settings)
};

class archive_packer {
public:
    static constexpr std::uint64_t whole_limit = 64 << 20;
    static constexpr std::uint64_t piece_size = 4 << 20;
    static constexpr std::uint64_t bytes_in_flight = 128 << 20;
    static constexpr unsigned pieces_per_worker = 2;
    static_assert(whole_limit <= bytes_in_flight, "a whole file fits in what may be read ahead");

    archive_packer(output_file& out, const pack_settings& settings);
    ~archive_packer();

    // Writes every entry, then the central directory and the end records.
    void pack(const std::vector<input_entry>& entries);

private:
    // One unit of work, in the order of the archive.
    struct job {
        enum class kind { whole, piece, checksum } what;
        const input_entry* entry;
        std::uint64_t offset, length;
    };
    struct result {
        std::vector<std::uint8_t> bytes;  // compressed, or the input itself when not
        bool compressed = false;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;  // input bytes
    };

    static unsigned with_crc_chosen(unsigned workers);
    void plan(const input_entry& entry);
    result next_result();
    void start_jobs();
    result run(const job& j, unsigned worker);
    result read_whole(const input_entry& entry, unsigned worker);
    result read_piece(const job& j, unsigned worker);
    result read_checksum(const input_entry& entry);
    compressor& compressor_of(unsigned worker);
    const std::uint8_t* read_into(std::vector<std::uint8_t>& buffer, const input_entry& entry, std::uint64_t at,
                                  std::size_t size);

    void write_folder(const input_entry& entry);
    void write_whole(const input_entry& entry);
    void write_streamed(const input_entry& entry);
    void write_stored_again(const input_entry& entry, entry_data& data, std::uint64_t data_start);
    void write_payload(const std::uint8_t* bytes, std::size_t size, entry_encryptor* cipher);
    std::unique_ptr<entry_encryptor> start_encryption(const entry_data& data);
    void end_encryption(entry_encryptor* cipher);
    std::uint64_t encryption_overhead() const;
    void advance(std::uint64_t bytes, const input_entry& entry);

    output_file& out_;
    pack_settings settings_;
    // What the method's compressors say of themselves.
    std::uint16_t method_ = 0;
    bool independent_pieces_ = true;
    zip_writer writer_;
    // What each worker keeps from one job to the next: its compressor (made
    // on its first use) and the memory it reads into.
    struct worker_state {
        std::unique_ptr<compressor> compress;
        std::vector<std::uint8_t> input;
    };
    std::vector<worker_state> workers_;
    std::vector<job> jobs_;
    std::size_t next_job_ = 0;
    std::deque<std::pair<std::uint64_t, std::future<result>>> running_;
    std::uint64_t bytes_running_ = 0;
    std::uint64_t done_ = 0, total_ = 0;
    progress_line progress_;
    std::vector<std::uint8_t> scratch_;
    // Last: stopped first, before anything its tasks use goes.
    worker_pool pool_;
};

}  // namespace quillon::pack
