#include "zip/catalogue.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "errors/exception.h"
#include "io/system.h"
#include "io/text/size_text.h"
#include "stream/vector_output.h"
#include "zip/item_reader.h"
#include "zip/local_header.h"
#include "zip/method.h"
#include "zip/records.h"
#include "zip/settings.h"

namespace format::zip {

namespace {

// Takes the decoded bytes and keeps only their count: the test writes
// nothing anywhere.
class discarding_output : public stream::output {
public:
    using stream::output::write;
    void write(const void*, std::uint32_t length) override { written_ += length; }
    void put(int) override { ++written_; }
    stream::size_type position() override { return written_; }

private:
    stream::size_type written_ = 0;
};

std::string shown(const any::string& name) { return name.printable().to_utf8(); }

// One report line, appended piece by piece: less code in the size-optimised
// stub than chains of + with their temporaries.
class line {
public:
    line& operator<<(const std::string& text) {
        text_ += text;
        return *this;
    }
    line& operator<<(const char* text) {
        text_ += text;
        return *this;
    }
    line& operator<<(std::uint64_t number) { return *this << std::to_string(number); }
    // "1 entry", "2 entries"
    line& entries(std::size_t count) { return *this << count << (count == 1 ? " entry" : " entries"); }
    void to(stream::output& out) {
        text_ += '\n';
        out.write(text_);
    }

private:
    std::string text_;
};

// A Unix mode as ls shows it: "-rwxr-xr-x", "drwx------", "lrwxrwxrwx".
std::string mode_text(std::uint32_t mode) {
    const std::uint32_t type = mode & records::unix_type_bits;
    std::string text(1, type == records::unix_folder ? 'd' : type == records::unix_link ? 'l' : '-');
    for (int bit = 8; bit >= 0; --bit) text += (mode >> bit & 1) != 0 ? "xwr"[bit % 3] : '-';
    return text;
}

// Two digits, with a leading zero.
void append_two(std::string& text, int value) {
    text += static_cast<char>('0' + value / 10 % 10);
    text += static_cast<char>('0' + value % 10);
}

}  // namespace

catalogue::catalogue(io::file& file, archive_events& events)
    : events_(&events), input_(file.data_fork()), begin_(input_.position()) {}

std::string catalogue::right_aligned(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string catalogue::left_aligned(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string catalogue::local_time_text(io::time modified) {
    const auto seconds =
        static_cast<std::time_t>((modified.ticks() - io::time::unix_epoch) / io::time::ticks_per_second);
    // One thread: the C library's own buffer is not shared.
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) return "unknown time    ";
    std::string text = std::to_string(local->tm_year + 1900) + "-";
    append_two(text, local->tm_mon + 1);
    text += '-';
    append_two(text, local->tm_mday);
    text += ' ';
    append_two(text, local->tm_hour);
    text += ':';
    append_two(text, local->tm_min);
    return text;
}

std::string catalogue::method_name(std::uint16_t method) {
    // The name of a method this reader decodes, the number of any other.
    const zip::method* known = find_method(method);
    return known ? known->name : "method " + std::to_string(method);
}

std::string catalogue::link_target(archive& directory, const central_header& entry) {
    if (entry.fields.encrypted() || entry.fields.uncompressed_size > survey::longest_link) return "?";
    try {
        local_header local;
        std::uint32_t length = 0;
        const stream::size_type position = directory.locate_local_header(entry, local, length);
        std::vector<std::uint8_t> bytes;
        stream::vector_output target(bytes);
        read_entry(directory, entry, position, std::string(), target);
        return shown(any::string::from_utf8(std::string(bytes.begin(), bytes.end())));
    } catch (const un::exception&) {
        return "?";  // the test says what is wrong with it
    }
}

std::string catalogue::size_column(std::uint64_t bytes) const {
    return human_sizes ? any::size_text(bytes) : std::to_string(bytes);
}

void catalogue::list(stream::output& out) {
    rewind();
    archive directory(input_);
    directory.limit_to(end_);
    directory.locate();
    // A first look for the columns: as wide as their widest value, and the
    // encryption and mode columns only for archives that have them, so
    // that the name (last) keeps as much of 80 columns as it can.
    bool modes = false, encryption = false;
    std::uint64_t count = 0, size = 0, compressed = 0;
    std::size_t method_width = 6;
    directory.read_directory([&](const central_header& entry, std::uint64_t) {
        modes = modes || entry.unix_mode() != 0;
        encryption = encryption || entry.fields.encrypted();
        method_width = std::max(method_width, method_name(entry.fields.data_method()).size());
        // Declared sizes may be anything: the sums saturate.
        size = entry.fields.uncompressed_size > UINT64_MAX - size ? UINT64_MAX : size + entry.fields.uncompressed_size;
        compressed = entry.fields.compressed_size > UINT64_MAX - compressed ? UINT64_MAX
                                                                            : compressed + entry.fields.compressed_size;
        ++count;
    });
    // The totals are the widest sizes.
    const std::size_t size_width = std::max<std::size_t>(4, size_column(size).size());
    const std::size_t compressed_width = std::max<std::size_t>(10, size_column(compressed).size());
    const std::string gap = "  ";
    constexpr std::size_t time_width = 16;  // "YYYY-MM-DD hh:mm", local_time_text
    const std::string before_name = std::string(method_width + gap.size() + time_width + gap.size(), ' ') +
                                    (encryption ? "     " : "") + (modes ? std::string(12, ' ') : "");
    line heading;
    heading << right_aligned("size", size_width) << gap << right_aligned("compressed", compressed_width) << gap
            << left_aligned("method", method_width) << gap << "modified          " << (encryption ? "enc  " : "")
            << (modes ? "mode        " : "") << "name";
    heading.to(out);
    directory.read_directory([&](const central_header& entry, std::uint64_t) {
        const entry_fields& fields = entry.fields;
        line shown_entry;
        shown_entry << right_aligned(size_column(fields.uncompressed_size), size_width) << gap
                    << right_aligned(size_column(fields.compressed_size), compressed_width) << gap
                    << left_aligned(method_name(fields.data_method()), method_width) << gap
                    << local_time_text(fields.modified) << gap;
        if (encryption) shown_entry << (fields.encrypted() ? "yes  " : "     ");
        if (modes) shown_entry << (entry.unix_mode() != 0 ? mode_text(entry.unix_mode()) : "          ") << gap;
        shown_entry << shown(fields.name_text);
        if (entry.is_link()) shown_entry << " -> " << link_target(directory, entry);
        shown_entry.to(out);
    });
    // The totals under the sizes, the count under the names, as unzip -l
    // shows them.
    (line() << std::string(size_width, '-') << gap << std::string(compressed_width, '-') << gap << before_name
            << "-------")
        .to(out);
    (line() << right_aligned(size_column(size), size_width) << gap
            << right_aligned(size_column(compressed), compressed_width) << gap << before_name)
        .entries(count)
        .to(out);
    // What the maker set for an installer, in the form it is written in.
    const settings chosen = settings::parse(directory.comment());
    if (chosen.present) {
        out.write(std::string("settings:\n"));
        const std::string text = chosen.text();
        for (std::size_t at = text.find('\n') + 1; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            (line() << "  " << shown(any::string::from_utf8(text.substr(at, end - at)))).to(out);
            at = end + 1;
        }
    }
    out.flush();
}

std::size_t catalogue::test(stream::output& out) {
    rewind();
    archive directory(input_);
    directory.limit_to(end_);
    directory.locate();
    survey check(directory, *events_, passphrase, io::system::has_symbolic_links);
    check.run(true);
    // An entry's own line shows the first thing found wrong with it.
    std::map<std::uint64_t, const refusal*> of_entry;
    for (const refusal& found : check.refusals())
        if (found.entry != refusal::whole_archive) of_entry.emplace(found.entry, &found);

    std::size_t bad = 0;
    std::uint64_t count = 0;
    directory.read_directory([&](const central_header& entry, std::uint64_t index) {
        ++count;
        const auto found = of_entry.find(index);
        const bool good = found == of_entry.end() ? test_entry(directory, entry, check.local_position(index), out)
                                                  : (refused_line(*found->second, entry, out), false);
        if (!good) ++bad;
    });
    // Entries good one by one may still make an archive extraction refuses
    // as a whole: shared bytes, for one.
    bool refused = false;
    for (const refusal& found : check.refusals()) {
        if (found.entry != refusal::whole_archive) continue;
        (line() << "REFUSED: " << un::display_text(found.named())).to(out);
        refused = true;
    }
    if (refused && bad == 0) bad = 1;
    if (bad == 0)
        (line() << "no errors in ").entries(count).to(out);
    else
        (line() << "errors in " << bad << " of ").entries(count).to(out);
    out.flush();
    return bad;
}

void catalogue::refused_line(const refusal& found, const central_header& entry, stream::output& out) {
    const std::string name = shown(entry.fields.name_text);
    switch (found.what) {
        case refusal::kind::unsafe_name:
            (line() << "UNSAFE NAME: " << (found.shown.empty() ? name : found.shown)).to(out);
            break;
        case refusal::kind::unsupported:
            (line() << "UNSUPPORTED (" << method_name(entry.fields.data_method()) << "): " << name).to(out);
            break;
        default:
            (line() << "DAMAGED: " << name << ": " << un::display_text(found.failure)).to(out);
            break;
    }
}

bool catalogue::test_entry(archive& directory, const central_header& entry, stream::size_type local_position,
                           stream::output& out) {
    const entry_fields& fields = entry.fields;
    const std::string name = shown(fields.name_text);
    if (fields.is_directory) return true;
    // Outside the try: a cancelled question stops the whole test.
    if (fields.encrypted() && passphrase.empty()) events_->passphrase_needed(passphrase);
    if (fields.encrypted() && passphrase.empty()) {
        (line() << "skipped (encrypted, no passphrase): " << name).to(out);
        return false;
    }
    try {
        discarding_output sink;
        read_entry(directory, entry, local_position, passphrase, sink);
    } catch (const format::passphrase_exception&) {
        // Not damage: the entry's own check says the passphrase is not its.
        (line() << "BAD PASSPHRASE: " << name).to(out);
        return false;
    } catch (const un::exception& failure) {
        (line() << "DAMAGED: " << name << ": " << un::display_text(failure)).to(out);
        return false;
    }
    (line() << "ok: " << name).to(out);
    return true;
}

}  // namespace format::zip
