#include "app/options.h"

namespace quillon::self {

namespace {

std::string quoted(const any::string& argument) { return "\"" + argument.printable(64).to_utf8() + "\""; }

// The argument of -j: a count of threads from 1 to `most`.
unsigned thread_count(const std::vector<any::string>& arguments, std::size_t at) {
    constexpr unsigned most = 64;
    const auto refuse = [] { throw usage_error("-j needs a number of threads from 1 to " + std::to_string(most)); };
    if (at >= arguments.size() || arguments[at].empty()) refuse();
    unsigned count = 0;
    for (char16_t digit : arguments[at].wide()) {
        if (digit < u'0' || digit > u'9') refuse();
        count = count * 10 + static_cast<unsigned>(digit - u'0');
        if (count > most) refuse();
    }
    if (count == 0) refuse();
    return count;
}

}  // namespace

options options::parse(const std::vector<any::string>& arguments) {
    // -h is the usage text, except beside -l, where it means sizes as people
    // read them (as ls -l -h shows them).
    bool listing = false;
    for (const any::string& argument : arguments) {
        if (argument == any::string(u"--")) break;
        listing = listing || argument == any::string(u"-l");
    }
    for (const any::string& argument : arguments) {
        if (argument == any::string(u"--")) break;
        if ((argument == any::string(u"-h") && !listing) || argument == any::string(u"--help")) {
            options help;
            help.what = action::help;
            return help;
        }
        if (argument == any::string(u"--version")) {
            options version;
            version.what = action::version;
            return version;
        }
    }

    options chosen;
    bool listed = false, tested = false, overwritten = false, kept = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i].wide();
        // The argument of -d and -p: the next word, whatever it looks like
        // (a folder may be named "-x"), but never an empty one.
        auto value = [&](any::string& into, const std::string& name, const char* what) {
            if (!into.empty()) throw usage_error(name + " is given twice");
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) throw usage_error(name + " needs " + what);
            into = arguments[++i];
        };
        if (argument == u"--") {
            chosen.program_arguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        } else if (argument == u"-q") {
            chosen.quiet = true;
        } else if (argument == u"-x") {
            chosen.run_program = false;
        } else if (argument == u"-f" || argument == u"--no-space-check") {
            chosen.check_space = false;
        } else if (argument == u"-h") {
            chosen.human_sizes = true;
        } else if (argument == u"-y" || argument == u"--accept") {
            chosen.accept = true;
        } else if (argument == u"-log" || argument == u"/log") {
            value(chosen.log_file, any::string(argument).to_utf8(), "a file");
        } else if (argument == u"-d") {
            value(chosen.destination, "-d", "a folder");
        } else if (argument == u"-p") {
            value(chosen.passphrase_file, "-p", "a file");
        } else if (argument == u"-j") {
            if (chosen.threads != 0) throw usage_error("-j is given twice");
            chosen.threads = thread_count(arguments, ++i);
        } else if (argument == u"-o") {
            overwritten = true;
        } else if (argument == u"-n") {
            kept = true;
        } else if (argument == u"-l") {
            listed = true;
        } else if (argument == u"-t") {
            tested = true;
        } else if (!argument.empty() && argument[0] == u'-') {
            throw usage_error("unknown switch " + quoted(arguments[i]));
        } else {
            throw usage_error("unexpected argument " + quoted(arguments[i]) + " (switches only)");
        }
    }
    if (overwritten && kept) throw usage_error("-o and -n exclude each other");
    if (listed && tested) throw usage_error("-l and -t exclude each other");
    if (overwritten) chosen.existing = overwrite::always;
    if (kept) chosen.existing = overwrite::never;
    if (listed) chosen.what = action::list;
    if (tested) chosen.what = action::test;
    return chosen;
}

bool options::unattended(const std::vector<any::string>& arguments) {
    for (const any::string& argument : arguments) {
        const std::u16string& word = argument.wide();
        if (word == u"--") break;
        if (word == u"-q" || word == u"-l" || word == u"-t") return true;
    }
    return false;
}

std::string options::usage(const std::string& program) {
    const std::string indent(program.size() + 8, ' ');  // under "[-q]"
    return "usage: " + program + " [-q] [-y] [-d DIR] [-o | -n] [-p FILE] [-x] [-f]\n" + indent + "[-j N] [-- ARGS]\n" +
           indent + "-l [-h] | -t [-p FILE]\n" + indent +
           "-h | --version\n"
           "\n"
           "Extracts the files inside this program. Without -q or -d it asks where\n"
           "to; it asks before it replaces an existing file. A message the program\n"
           "carries is shown first, except with -q or -y: such a run has accepted it.\n"
           "\n"
           "  -q          quiet: no destination question, no progress display\n"
           "  -d DIR      extract into DIR (made with its parents when missing)\n"
           "  -o          overwrite existing files without asking\n"
           "  -n          never overwrite: keep every existing file\n"
           "  -l          list the entries (size, date, name); writes nothing\n"
           "  -l -h       the same with sizes in kB, MB and GB\n"
           "  -t          test every entry (decode it, check its CRC); writes nothing\n"
           "  -p FILE     the passphrase of encrypted entries is the first line of FILE\n"
           "  -x          extract only: do not run the program the archive names\n"
           "  -j N        write files with N threads (default: one per processor)\n"
           "  -f, --no-space-check\n"
           "              extract even when the destination has less free space than\n"
           "              the files need\n"
           "  -y, --accept\n"
           "              accept the program's message without showing it\n"
           "  -log FILE   with any of them: write what was done and any error to FILE\n"
           "              (also /log FILE), for runs that nobody watches\n"
           "  -- ARGS     give ARGS to the program the archive runs after extracting\n"
           "  -h, --help  this text\n"
           "  --version   the version of this program\n"
           "\n"
           "Exit codes: 0 done, 1 cancelled, 2 error (for -t: a damaged entry),\n"
           "3 any other failure. The errors of a run with -q, -l or -t are never\n"
           "shown in a window: they go to standard error (or the console).\n";
}

}  // namespace quillon::self
