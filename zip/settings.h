// What the maker of a self-extracting program chose for it (a title, a
// message, a default destination, a program to run afterwards), carried in
// the archive comment as lines of text, so that one stub serves everybody
// and any Zip tool shows them (`unzip -z`) or writes them (`zip -z`):
//
//   quillon-sfx settings 1
//   title=Photo Viewer 2.1
//   message=Read the licence first.
//   message=A second line of the message.
//   buttons=I Agree|Cancel
//   destination={temp}/viewer
//   run=bin/setup.sh
//   argument=--quiet
//   cleanup=yes
//
// The first line marks the form; a comment that starts otherwise is an
// ordinary comment and is ignored. Each later line is key=value in UTF-8
// (blank lines and lines starting with '#' are skipped, a CR before the
// line end is dropped). `message` lines join with line breaks; `argument`
// lines are the run program's arguments in order, passed as they are; every
// other key may be given once. `buttons` names the message's two buttons,
// the one that goes on and the one that stops, apart by a '|' (a plain
// notice: "OK|Cancel"); without it they are "I Agree" and "Cancel".
// `destination` is a relative path below the current folder, or one that
// starts with {temp} (a new private temporary folder) or {home} (the user's
// home folder). `cleanup=yes` (only with a {temp} destination) removes the
// extracted folder after the program has ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/file.h"
#include "io/path.h"

namespace format::zip {

class settings {
public:
    static constexpr const char* marker = "quillon-sfx settings 1";
    // The longest message shown.
    static constexpr std::size_t longest_message = 32768;

    // Where the default destination is.
    enum class place { current, temporary, home };

    // The settings of `comment`, the archive comment; none (`present`
    // false) when it is not in the settings form. A settings block that is
    // malformed (an unknown key, a key given twice, a value the key cannot
    // take, a path that leaves its folder) throws format::exception from
    // "format::zip::settings".
    static settings parse(const std::string& comment);
    // The settings of the archive in `file` (its data fork open) that begins
    // at `begin` and ends at `end` (end_header::not_found: the file's end);
    // none when there is no end record or its comment holds none. The
    // fork's position is kept.
    static settings of_archive(io::file& file, std::uint64_t begin, std::uint64_t end);

    // Sets what the line `key`=`value` sets (a message line is added to
    // the message), with the refusals `parse` makes of that line; for a
    // writer that builds the settings up (the packer), which then calls
    // `check` and writes `text`.
    void set(const std::string& key, const std::string& value);
    // The refusals of the whole block: arguments without a program, a
    // cleanup without a {temp} destination or without a program.
    void check() const;
    // The comment text of these settings, in the form `parse` reads.
    std::string text() const;

    bool present = false;
    std::string title;    // UTF-8; empty: the program's own title
    std::string message;  // UTF-8, lines joined with "\n"
    // The words of the message's buttons (UTF-8); empty: the stub's own.
    std::string accept_button, decline_button;
    // The longest word of a button, in bytes.
    static constexpr std::size_t longest_button = 40;
    place destination_place = place::current;
    io::path destination;  // below the place; empty when none was set
    bool has_destination = false;
    io::path run;  // relative to the destination; empty when nothing runs
    std::vector<std::string> arguments;
    bool cleanup = false;
};

}  // namespace format::zip
