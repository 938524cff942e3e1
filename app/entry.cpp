#include "app/entry.h"

#include <new>

#include "app/destination_dialog.h"
#include "app/driver.h"
#include "app/host.h"
#include "app/message_dialog.h"
#include "app/options.h"
#include "app/passphrase_dialog.h"
#include "app/report.h"
#include "app/run_log.h"
#include "errors/exception.h"
#include "image/image.h"
#include "io/directory.h"
#include "io/file.h"
#include "io/item.h"
#include "quillon/build_version.h"
#include "zip/catalogue.h"
#include "zip/settings.h"

namespace quillon::self {

namespace {

// The passphrase for unattended runs: the first line of a file, without its
// line break, as quillon-pack reads its own.
std::string read_passphrase(const any::string& name) {
    constexpr std::uint32_t longest = 65536;
    io::file source{io::path(name)};
    source.data_fork().open();
    std::string line;
    char block[4096];
    while (line.size() < longest && line.find('\n') == std::string::npos) {
        const std::uint32_t got = source.data_fork().read(block, sizeof block);
        if (got == 0) break;
        line.append(block, got);
    }
    source.data_fork().close(false);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw un::exception("the passphrase file is empty", "quillon::self::entry");
    return line;
}

// The test's question for the passphrase: the same dialog as extraction's.
class passphrase_asker : public format::archive_events {
public:
    void passphrase_needed(std::string& passphrase) override { passphrase_dialog().ask(passphrase); }
};

std::string program_name() {
    const io::path own = host::own_path();
    return own.empty() ? std::string("quillon-sfx") : own.components().back().printable().to_utf8();
}

// -l and -t: the report of the core's catalogue; exit code 2 when the test
// finds a bad entry.
int inspect(io::file& own, const options& chosen, const std::string& passphrase) {
    const image program(host::own_image());
    own.data_fork().seek(program.archive_offset());
    passphrase_asker asker;
    format::zip::catalogue view(own, asker);
    view.limit_to(program.archive_end());
    view.passphrase = passphrase;
    view.human_sizes = chosen.human_sizes;
    report out;
    if (chosen.what == options::action::list) {
        view.list(out);
        out.finish();
        return entry::done;
    }
    const std::size_t bad = view.test(out);
    out.finish();
    return bad == 0 ? entry::done : entry::failed;
}

// Where the settings say to extract when nothing else does: below the
// current folder, in a new private temporary folder (made here, and named
// in `made`), or below the home folder.
io::path default_destination(const format::zip::settings& chosen, const any::string& current, io::path& made) {
    io::path base;
    switch (chosen.destination_place) {
        case format::zip::settings::place::current:
            base = io::path(current);
            break;
        case format::zip::settings::place::temporary:
            base = made = host::new_temporary_folder();
            break;
        case format::zip::settings::place::home:
            base = host::home_folder();
            break;
    }
    io::path below = chosen.destination;
    below.place_under(base);
    return below;
}

std::vector<any::string> program_arguments(const format::zip::settings& chosen, const options& given) {
    std::vector<any::string> arguments;
    for (const std::string& argument : chosen.arguments) arguments.push_back(any::string::from_utf8(argument));
    arguments.insert(arguments.end(), given.program_arguments.begin(), given.program_arguments.end());
    return arguments;
}

// The program an installer runs: the file of that name that this very run
// wrote below the destination, or the one there that the user chose to keep
// in this run (No, No to All, -n); never a link or a folder.
io::path extracted_program(const driver& extraction, const io::path& program) {
    const io::file file(program);
    const std::string name = "\"" + program.join().printable().to_utf8() + "\"";
    if (!extraction.program_written() && !extraction.program_kept())
        throw un::exception("the program to run, " + name + ", was not extracted in this run", "quillon::self::entry");
    if (file.is_link() || !file.exists() || file.is_directory())
        throw un::exception("the program to run, " + name + ", is " +
                                (file.is_link()  ? "a symbolic link"
                                 : file.exists() ? "a folder"
                                                 : "missing") +
                                (extraction.program_written() ? "" : " (the file kept in place of the archive's)"),
                            "quillon::self::entry");
    return program;
}

// A command line as a person would type it again: words with blanks quoted.
std::string command_line(const io::path& program, const std::vector<any::string>& arguments) {
    std::string line = program.join().printable().to_utf8();
    for (const any::string& argument : arguments) {
        const std::string word = argument.printable(std::string::npos).to_utf8();
        line += word.empty() || word.find(' ') != std::string::npos ? " \"" + word + "\"" : " " + word;
    }
    return line;
}

// The destination is made with its parents, unless one of them, or the
// destination itself, is something other than a folder: said so before
// anything is written, rather than as a failure to make some folder later.
void require_folders(const io::path& destination) {
    io::path existing = destination;
    while (!existing.empty() && !io::item(existing).exists()) existing.pop_back();
    if (existing.empty() || io::item(existing).is_directory()) return;
    const std::string what =
        io::item(existing).is_link() ? "is a symbolic link to no folder" : "is a file, not a folder";
    const std::string name = "\"" + existing.join().printable().to_utf8() + "\"";
    if (existing == destination)
        throw un::exception("cannot extract into " + name + ": it " + what, "quillon::self::entry");
    throw un::exception(
        "cannot make the folder \"" + destination.join().printable().to_utf8() + "\": " + name + " " + what,
        "quillon::self::entry");
}

// Tells the one message of a failed run where the run shows its text (the
// listing's, the test's: `printing`), else as the error message, and puts
// it into the log; false when it could not be told.
bool tell_error(const std::string& text, bool printing) noexcept {
    run_log::line("error: " + text);
    try {
        if (printing) {
            report out(true);
            out.write(text + "\n");
            out.finish();
        } else {
            host::show_error(text);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// With cleanup, the temporary folder goes once the program has ended, or
// could not start; what cannot be removed is told, and the run's exit code
// stays what it was.
void clean_up(const format::zip::settings& chosen, const io::path& temporary) noexcept {
    if (!chosen.cleanup || temporary.empty()) return;
    try {
        io::directory(temporary).remove_tree();
    } catch (const un::exception& failure) {
        tell_error(un::display_text(failure), false);
    } catch (...) {
    }
}

int run_installed(const driver& extraction, const format::zip::settings& chosen, const options& given,
                  const io::directory& destination, const io::path& temporary) {
    io::path program = chosen.run;
    program.place_under(destination.path());
    const std::vector<any::string> arguments = program_arguments(chosen, given);
    int code = 0;
    try {
        extracted_program(extraction, program);
        run_log::line("running: " + command_line(program, arguments));
        // Ctrl+C and SIGTERM reach the program and end it; the run goes on
        // here once it has ended, to clean up after it.
        code = host::run_program(program, arguments, destination.path());
    } catch (const un::exception&) {
        clean_up(chosen, temporary);
        throw;
    }
    run_log::line("the program's exit code: " + std::to_string(code));
    clean_up(chosen, temporary);
    return code;
}

// A temporary folder made for the destination question goes again when the
// run stops before anything is in it (a cancel, another folder chosen);
// one that holds files stays, as everything written does.
class temporary_folder {
public:
    ~temporary_folder() {
        if (!path.empty()) io::directory(path).remove(false);
    }
    io::path path;
};

int extract(io::file& own, const options& chosen, const std::string& passphrase) {
    const image program(host::own_image());
    const format::zip::settings settings =
        format::zip::settings::of_archive(own, program.archive_offset(), program.archive_end());
    if (!settings.title.empty()) host::set_title(any::string::from_utf8(settings.title));
    // A quiet run has accepted the message, as has one with -y.
    if (!settings.message.empty() && !chosen.quiet && !chosen.accept &&
        !message_dialog().ask(any::string::from_utf8(settings.message), any::string::from_utf8(settings.accept_button),
                              any::string::from_utf8(settings.decline_button)))
        throw evacuation("");

    driver extraction(own, chosen.quiet, chosen.existing, passphrase);
    extraction.threads(chosen.threads);
    extraction.check_space = chosen.check_space;
    const any::string current = host::current_directory();
    temporary_folder made;
    io::path& temporary = made.path;
    io::directory destination;
    io::path suggested;
    // Full paths from here on: the program an installer runs is found in
    // the destination by its full path, whatever folder it then runs in.
    if (!chosen.destination.empty()) {
        destination.path() = host::full_path(chosen.destination);
    } else {
        suggested = settings.has_destination ? default_destination(settings, current, temporary) : io::path(current);
        suggested = host::full_path(suggested.join());
        // A temporary folder is nothing the user would choose: not asked.
        const bool asked = !chosen.quiet && !(settings.has_destination &&
                                              settings.destination_place == format::zip::settings::place::temporary);
        destination.path() = asked ? host::full_path(destination_dialog().ask(suggested.join())) : suggested;
    }
    // A temporary folder made for a destination the user did not keep goes
    // again (it is still empty).
    if (!temporary.empty() && destination.path().join() != suggested.join()) {
        io::directory(temporary).remove(false);
        temporary = io::path();
    }
    require_folders(destination.path());
    run_log::line("destination: " + destination.path().join().printable().to_utf8());

    // The program to run must be one of the archive's files, checked
    // before anything is written, also when it is not run (-x); so is what
    // the system could not start it with.
    const bool runs = !settings.run.empty() && chosen.run_program;
    if (!settings.run.empty()) extraction.require_file(settings.run);
    if (runs) {
        io::path expected = settings.run;
        expected.place_under(destination.path());
        host::check_program(expected, program_arguments(settings, chosen));
        extraction.expect_program(expected);
    }
    // A folder named that does not exist yet is made, with its parents:
    // folder entries only ever create one level.
    if (!destination.path().empty() && !destination.exists()) destination.create_with_parents(true);
    own.data_fork().seek(program.archive_offset());
    extraction.limit_archive(program.archive_end());
    extraction.run(destination);
    if (!runs) {
        // A folder of a random name that nothing runs in: the user is told
        // where the files are.
        if (!temporary.empty()) {
            report out;
            out.write("extracted into " + destination.path().join().printable().to_utf8() + "\n");
            out.finish();
        }
        return entry::done;
    }
    return run_installed(extraction, settings, chosen, destination, temporary);
}

// The run of a command line that was understood, and its exit code; every
// failure is told (and logged) here.
int perform(const options& chosen, const std::vector<any::string>& arguments) {
    // Listing and testing print their text, errors included; extraction
    // shows its error as the one message.
    const bool printing = chosen.what != options::action::extract;
    try {
        if (!chosen.log_file.empty()) {
            run_log::open(host::full_path(chosen.log_file));
            run_log::line("started: " + command_line(host::own_path(), arguments));
        }
        // Read before anything is written: a missing file stops the run.
        const std::string passphrase =
            chosen.passphrase_file.empty() ? std::string() : read_passphrase(chosen.passphrase_file);

        // The own file is the input of the whole run; its size, taken
        // before the archive is located, is the progress display's total.
        io::file own(host::own_path());
        own.data_fork().open();
        const int code = printing ? inspect(own, chosen, passphrase) : extract(own, chosen, passphrase);
        own.data_fork().close(false);
        return code;
    } catch (const evacuation&) {
        run_log::line("cancelled");
        return entry::cancelled;
    } catch (const un::exception& failure) {
        return tell_error(un::display_text(failure), printing) ? entry::failed : entry::aborted;
    } catch (const std::bad_alloc&) {
        tell_error("out of memory", printing);
        return entry::aborted;
    } catch (...) {
        run_log::line("error: an internal failure");
        return entry::aborted;
    }
}

}  // namespace

int entry::run(const std::vector<any::string>& arguments) {
    // Nobody may be there to click: no window waits for it.
    if (options::unattended(arguments)) report::without_message_boxes();
    try {
        options chosen;
        try {
            chosen = options::parse(arguments);
        } catch (const usage_error& wrong) {
            report out(true);
            out.write(un::display_text(wrong) + "\n\n" + options::usage(program_name()));
            out.finish();
            return failed;
        }
        if (chosen.what == options::action::help || chosen.what == options::action::version) {
            report out;
            out.write(chosen.what == options::action::help ? options::usage(program_name())
                                                           : "quillon-sfx " QUILLON_VERSION_TEXT "\n");
            out.finish();
            return done;
        }
        const int code = perform(chosen, arguments);
        run_log::line("exit code: " + std::to_string(code));
        run_log::close();
        return code;
    } catch (...) {
        return aborted;
    }
}

}  // namespace quillon::self
