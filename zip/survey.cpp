#include "zip/survey.h"

#include <algorithm>

#include "stream/vector_output.h"
#include "zip/entry_cipher.h"
#include "zip/item_reader.h"
#include "zip/method.h"

namespace format::zip {

namespace {

const char* const where = "format::zip::archive";

std::string printable(const any::string& text) { return message_text(text); }

std::string quoted(const any::string& text) { return "\"" + printable(text) + "\""; }

// Whether a + b fits: sizes and offsets from the records are never trusted
// to add up.
bool fits(stream::size_type a, stream::size_type b) { return b <= ~stream::size_type{0} - a; }

std::string unsupported(const entry_fields& fields) {
    std::string message =
        "unsupported compression method " + std::to_string(fields.method) + " (" + method_name(fields.method) + ")";
    if (find_method(fields.method) != nullptr)
        message += ", version " + std::to_string((fields.version_needed & 0xFF) / 10) + "." +
                   std::to_string((fields.version_needed & 0xFF) % 10) + " needed";
    return message;
}

// Whether a local header holds what the directory says of its entry, where
// it does not leave the values to a descriptor after the data.
bool agrees(const entry_fields& central, const entry_fields& local) {
    if (local.method != central.method || local.encrypted() != central.encrypted()) return false;
    if (local.has_descriptor()) return true;
    return local.crc == central.crc && local.compressed_size == central.compressed_size &&
           local.uncompressed_size == central.uncompressed_size;
}

}  // namespace

survey::survey(archive& directory, archive_events& events, std::string& passphrase, bool make_links)
    : directory_(&directory), events_(&events), passphrase_(&passphrase), make_links_(make_links) {}

format::exception refusal::named() const {
    return format::exception(subject.empty() ? failure.message : failure.message + ": " + subject, failure.where);
}

void survey::refuse(refusal::kind what, std::uint64_t entry, const std::string& message, const std::string& subject) {
    refusals_.push_back({what, entry, format::exception(message, where), subject, ""});
}

void survey::refuse(refusal::kind what, std::uint64_t entry, const un::exception& failure, const any::string& subject) {
    refusals_.push_back({what, entry, format::exception(failure.message, failure.where), printable(subject), ""});
}

void survey::raise_first() const {
    if (!refusals_.empty()) throw refusals_.front().named();
}

const std::string* survey::link_target(std::uint64_t entry) const {
    const auto found = targets_.find(entry);
    return found == targets_.end() ? nullptr : &found->second;
}

void survey::run(bool all) {
    all_ = all;
    required_found_ = required_file_.empty();
    directory_->read_directory([&](const central_header& record, std::uint64_t index) {
        positions_.push_back(archive::not_located);
        if (!stopped()) survey_entry(record, index);
    });
    if (stopped()) return;
    judge_links();
    if (stopped()) return;
    if (!required_found_)
        refuse(refusal::kind::archive, refusal::whole_archive,
               "the program to run, " + quoted(required_file_.join()) + ", is not a file of the archive");
    if (stopped()) return;
    refuse_overlaps();
    if (stopped()) return;
    refusals_.insert(refusals_.end(), disagreements_.begin(), disagreements_.end());
    if (stopped()) return;
    if (!links_.empty()) refuse_entries_below_links();
}

void survey::survey_entry(const central_header& record, std::uint64_t index) {
    const entry_fields& fields = record.fields;
    if (!supported(fields))
        return refuse(refusal::kind::unsupported, index, unsupported(fields), printable(fields.name_text));
    if (unsafe_name(fields.name))
        return refuse(refusal::kind::unsafe_name, index, "unsafe entry name " + quoted(fields.stored_name));

    local_header header;
    std::uint32_t length = 0;
    try {
        positions_[index] = directory_->locate_local_header(record, header, length);
    } catch (const format::exception& failure) {
        return refuse(refusal::kind::damaged, index, failure, fields.name_text);
    }
    if (!check_local_header(record, index, header)) return;
    const stream::size_type stored = std::max(header.fields.compressed_size, fields.compressed_size);
    const stream::size_type data = positions_[index] + length;
    if (!fits(data, stored))
        return refuse(refusal::kind::damaged, index, "sizes or offsets beyond any file", printable(fields.name_text));
    ranges_.emplace_back(positions_[index], data + stored);
    if (!fields.is_directory) {
        ++files_;
        // Sizes from the records may be anything: the sum saturates.
        bytes_ = fields.uncompressed_size > UINT64_MAX - bytes_ ? UINT64_MAX : bytes_ + fields.uncompressed_size;
    }

    if (!required_found_ && !fields.is_directory && !(make_links_ && record.is_link()) &&
        fields.name.components() == required_file_.components())
        required_found_ = true;
    if (make_links_ && record.is_link()) read_link(record, index);
}

bool survey::check_local_header(const central_header& record, std::uint64_t index, const local_header& header) {
    const entry_fields& fields = record.fields;
    if (!supported(header.fields)) {
        refuse(refusal::kind::unsupported, index, unsupported(header.fields), printable(fields.name_text));
        return false;
    }
    // What a listing shows must be what is written.
    if (header.fields.stored_name != fields.stored_name) {
        // The test names a local name that would leave as such.
        const bool unsafe = unsafe_name(header.fields.name);
        refuse(unsafe ? refusal::kind::unsafe_name : refusal::kind::damaged, index,
               "file name in directory " + quoted(fields.stored_name) + " and header " +
                   quoted(header.fields.stored_name) + " differ");
        if (unsafe) refusals_.back().shown = printable(header.fields.name_text);
        return false;
    }
    // The cipher's own bytes are part of the compressed size.
    if (const auto cipher = open_cipher(header.fields)) {
        const std::uint64_t overhead = std::uint64_t{cipher->header_size()} + cipher->trailer_size();
        const bool unknown = header.fields.has_descriptor() && header.fields.compressed_size == 0;
        if (cipher->trailer_size() != 0 && header.fields.compressed_size < overhead && !unknown) {
            refuse(refusal::kind::damaged, index, "compressed size shorter than the encryption's own bytes",
                   printable(fields.name_text));
            return false;
        }
    }
    // Sizes that differ would write other bytes than the listing and the
    // test show. Refused after the overlap check, which looks at the bytes
    // either size would read and names the bomb built on them.
    if (!agrees(fields, header.fields))
        disagreements_.push_back(
            {refusal::kind::damaged, index,
             format::exception(
                 "sizes, CRC or method in directory and header of " + quoted(fields.name_text) + " differ", where),
             "", ""});
    return true;
}

// A link's target is its data, decoded and checked like any entry's.
void survey::read_link(const central_header& record, std::uint64_t index) {
    const entry_fields& fields = record.fields;
    if (fields.uncompressed_size > longest_link)
        return refuse(refusal::kind::damaged, index, "symbolic link target too long", printable(fields.name_text));
    if (fields.encrypted() && passphrase_->empty()) events_->passphrase_needed(*passphrase_);
    std::vector<std::uint8_t> bytes;
    try {
        stream::vector_output target(bytes);
        read_entry(*directory_, record, positions_[index], *passphrase_, target);
    } catch (const quillon::self::evacuation&) {
        throw;
    } catch (const un::exception& failure) {
        return refuse(refusal::kind::damaged, index, failure, fields.name_text);
    }
    std::string target(bytes.begin(), bytes.end());
    // Judged at once among the links made so far, and once more among all
    // of them when every target is known.
    if (made_.leaves(fields.name, target))
        return refuse(refusal::kind::damaged, index,
                      "symbolic link " + quoted(fields.name_text) + " points outside the destination");
    made_.add(fields.name, target);
    links_.push_back({index, fields.name, fields.name_text});
    targets_.emplace(index, std::move(target));
}

// A link may lead outside only through a link that a later entry makes.
void survey::judge_links() {
    for (const link_entry& link : links_) {
        if (!made_.leaves(link.name, targets_[link.entry])) continue;
        refuse(refusal::kind::damaged, link.entry,
               "symbolic link " + quoted(link.shown) + " points outside the destination");
        if (stopped()) return;
    }
}

// Two entries that share bytes (one's data quoting the next one's header,
// the way small archives are made to expand into huge ones) or an entry
// inside the directory: no honest writer makes them. The ranges are those
// the data is read from, the local header's sizes being the directory's.
void survey::refuse_overlaps() {
    ranges_.emplace_back(directory_->directory_position(), directory_->directory_end());
    std::sort(ranges_.begin(), ranges_.end());
    for (std::size_t i = 1; i < ranges_.size(); ++i)
        if (ranges_[i].first < ranges_[i - 1].second) {
            refuse(refusal::kind::archive, refusal::whole_archive,
                   "entries overlap each other or the central directory");
            return;
        }
}

// An entry whose name passes through a link that the archive makes would be
// written wherever that link points.
void survey::refuse_entries_below_links() {
    directory_->read_directory([&](const central_header& record, std::uint64_t index) {
        if (stopped() || !made_.below_link(record.fields.name)) return;
        refuse(refusal::kind::damaged, index,
               "entry " + quoted(record.fields.name_text) + " lies below a symbolic link of the archive");
    });
}

}  // namespace format::zip
