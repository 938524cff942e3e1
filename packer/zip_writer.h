// Writes a Zip archive entry by entry into an output file, with every offset
// counted from the start of that file (so an archive written after a stub
// needs no later adjustment). Reads no Zip64: the limits below are checked
// before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/output_file.h"

namespace quillon::pack {

// What one entry records besides its data.
struct entry_info {
    std::string name;  // "/" separated, folders end with "/"
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t unix_mode = 0;  // st_mode, kept in the external attributes
    bool directory = false;
};

class zip_writer {
public:
    static constexpr std::uint64_t max_entries = 65535;
    static constexpr std::uint64_t max_offset = 0xFFFFFFFFu;

    explicit zip_writer(output_file& out) : out_(out) {}

    void add_directory(const entry_info& info);
    // `data` is the whole file. `level` 1 to 12 deflates it (stored when that
    // is not smaller); `passphrase` non-empty encrypts it.
    void add_file(const entry_info& info, const std::uint8_t* data, std::uint64_t size, int level,
                  const std::string& passphrase);
    // Writes the central directory and the end record.
    void finish();

    std::size_t entries() const { return central_.size(); }

private:
    struct central_record {
        entry_info info;
        std::uint16_t flags, method;
        std::uint32_t crc, compressed, uncompressed, offset;
    };

    void write_shared_fields(const central_record& record);
    void write_local(const central_record& record);
    void check_room(std::uint64_t more) const;

    output_file& out_;
    std::vector<central_record> central_;
};

// DOS date and time (local time, two-second resolution) of a Unix time.
void to_dos_time(std::int64_t unix_seconds, std::uint16_t& time, std::uint16_t& date);

}  // namespace quillon::pack
