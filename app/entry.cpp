#include "app/entry.h"

#include "app/destination_dialog.h"
#include "app/driver.h"
#include "app/host.h"
#include "app/options.h"
#include "app/passphrase_dialog.h"
#include "app/report.h"
#include "errors/exception.h"
#include "image/image.h"
#include "io/directory.h"
#include "io/file.h"
#include "zip/inspection.h"

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

// -l and -t: the report of the core's inspection; exit code 2 when the test
// finds a bad entry.
int inspect(io::file& own, const options& chosen, const std::string& passphrase) {
    const image program(host::own_image());
    own.data_fork().seek(program.archive_offset());
    passphrase_asker asker;
    format::zip::inspection view(own, asker);
    view.limit_to(program.archive_end());
    view.passphrase = passphrase;
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

int extract(io::file& own, const options& chosen, const std::string& passphrase) {
    driver extraction(own, chosen.quiet, chosen.existing, passphrase);
    const any::string current = host::current_directory();
    io::directory destination{io::path(current)};
    if (!chosen.destination.empty())
        destination.path() = io::path(chosen.destination);
    else if (!chosen.quiet)
        destination.path() = io::path(destination_dialog().ask(current));
    // A folder named that does not exist yet is made, with its parents:
    // folder entries only ever create one level.
    if (!destination.path().empty() && !destination.exists()) destination.create_with_parents(true);

    const image program(host::own_image());
    own.data_fork().seek(program.archive_offset());
    extraction.limit_archive(program.archive_end());
    extraction.run(destination);
    return entry::done;
}

}  // namespace

int entry::run(const std::vector<any::string>& arguments) {
    // Listing, testing and the usage text print their text, errors
    // included; extraction shows its error as the one message.
    bool printing = true;
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
        if (chosen.what == options::action::help) {
            report out;
            out.write(options::usage(program_name()));
            out.finish();
            return done;
        }
        printing = chosen.what != options::action::extract;

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
        return cancelled;
    } catch (const un::exception& failure) {
        try {
            if (printing) {
                report out(true);
                out.write(un::display_text(failure) + "\n");
                out.finish();
            } else {
                host::show_error(un::display_text(failure));
            }
        } catch (...) {
            return aborted;
        }
        return failed;
    } catch (...) {
        return aborted;
    }
}

}  // namespace quillon::self
