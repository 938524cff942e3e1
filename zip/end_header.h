// The end of central directory record, and the search for it from the end
// of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/random/input.h"
#include "zip/header.h"
#include "zip/records.h"

namespace format::zip {

class end_header : public format::header {
public:
    bool valid() const override;
    std::uint32_t read(stream::input& input, bool strict) override;
    std::uint32_t size() const override { return fixed_size + static_cast<std::uint32_t>(comment.size()); }

    // The absolute position of the end record in `input`, or `not_found`.
    // Only the bytes from `begin` (where the archive starts) to the end of the
    // input are searched, so whatever precedes the archive (the program that
    // carries it) is never taken for its end record. Among the signatures in
    // the last 65557 bytes, the last one whose comment ends exactly at the end
    // of the input wins; when none does, the last signature found. `end`,
    // when given, is where the archive ends instead of the input's end (a
    // signature may follow it).
    virtual stream::size_type locate(stream::random::input& input, stream::size_type begin = 0,
                                     stream::size_type end = not_found);

    static constexpr stream::size_type not_found = ~stream::size_type{0};
    // Every position where a signature stands in the bytes `locate`
    // searches, the last first.
    static std::vector<stream::size_type> signatures(stream::random::input& input, stream::size_type begin,
                                                     stream::size_type end);
    // Fixed part of the record; the comment may add up to 65535 bytes.
    static constexpr std::uint32_t fixed_size = records::end_len;
    static constexpr std::uint32_t largest_size = fixed_size + records::max_comment;

    std::uint16_t this_disk = 0;
    std::uint16_t directory_disk = 0;
    std::uint16_t disk_entries = 0;
    std::uint16_t total_entries = 0;
    std::uint32_t directory_size = 0;
    std::uint32_t directory_offset = 0;
    std::string comment;
    records::signature_bytes signature = records::bytes_of(records::end_signature);
};

}  // namespace format::zip
