// Everything that keeps an archive from extracting completely and honestly,
// found before the first file is written: an entry this reader cannot
// decode, a name that leaves the destination or differs from its local
// header's, local values that differ from the directory's, entries whose
// bytes overlap (the way zip bombs are made), a link that leads out of the
// destination (followed through the archive's own links) and entries below
// a link, and an installer's program that is not a file of the archive.
//
// Each finding is a refusal; extraction raises the first one (in the order
// the entries come, then those of the whole archive), the test lists them
// all. Refusals are format::exceptions from "format::zip::archive" whose
// message names the entry they concern.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "errors/exception.h"
#include "io/path.h"
#include "zip/archive.h"
#include "zip/archive_events.h"
#include "zip/name_rules.h"

namespace format::zip {

struct refusal {
    // What the test's line calls it.
    enum class kind { unsupported, unsafe_name, damaged, archive };
    static constexpr std::uint64_t whole_archive = ~std::uint64_t{0};

    kind what;
    std::uint64_t entry;  // its index in directory order, or `whole_archive`
    // The failure as the test shows it beside the entry's name, and that
    // name where the message does not quote it: extraction raises
    // "message: subject".
    format::exception failure;
    std::string subject;
    // The name the test's line shows, when not the directory's.
    std::string shown;

    format::exception named() const;
};

class survey {
public:
    // The longest link target taken: the system's own limit for a path.
    static constexpr std::uint32_t longest_link = 4095;

    // `directory` must have been located. `events` is asked for the
    // passphrase (into `passphrase`, while it is empty) when a link's target
    // is encrypted. `make_links`: whether link entries become links (else
    // they are files and nothing is judged of their targets).
    survey(archive& directory, archive_events& events, std::string& passphrase, bool make_links);

    // An entry that must be in the archive as a file (the program an
    // installer runs afterwards).
    void require_file(const io::path& name) { required_file_ = name; }

    // Surveys every entry; with `all` false it stops at the first refusal.
    void run(bool all);

    const std::vector<refusal>& refusals() const { return refusals_; }
    // Throws the first refusal, when there is one.
    void raise_first() const;

    // What extraction takes from the survey, by entry index: where each
    // local header is, and each link's target.
    stream::size_type local_position(std::uint64_t entry) const { return positions_[entry]; }
    const std::string* link_target(std::uint64_t entry) const;
    // How many entries surveyed are not folders.
    std::uint64_t files() const { return files_; }
    // The sum of their declared sizes: what extracting them writes.
    std::uint64_t bytes() const { return bytes_; }

private:
    using range = std::pair<stream::size_type, stream::size_type>;

    void survey_entry(const central_header& record, std::uint64_t index);
    // False, with a refusal, when the entry's local header cannot be used.
    bool check_local_header(const central_header& record, std::uint64_t index, const local_header& header);
    void read_link(const central_header& record, std::uint64_t index);
    void judge_links();
    void refuse_overlaps();
    void refuse_entries_below_links();
    void refuse(refusal::kind what, std::uint64_t entry, const std::string& message, const std::string& subject = "");
    void refuse(refusal::kind what, std::uint64_t entry, const un::exception& failure, const any::string& subject);
    bool stopped() const { return !all_ && !refusals_.empty(); }

    archive* directory_;
    archive_events* events_;
    std::string* passphrase_;
    bool make_links_;
    bool all_ = true;
    io::path required_file_;
    bool required_found_ = false;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::vector<stream::size_type> positions_;
    std::vector<range> ranges_;
    // Links in directory order: their entry, normal name and target.
    struct link_entry {
        std::uint64_t entry;
        io::path name;
        any::string shown;
    };
    std::vector<link_entry> links_;
    std::map<std::uint64_t, std::string> targets_;
    link_map made_;
    std::vector<refusal> refusals_;
    std::vector<refusal> disagreements_;
};

}  // namespace format::zip
