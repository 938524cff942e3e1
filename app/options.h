// The command line of both stubs: switches only, no other arguments.
//
//   -q         quiet: no destination question, no progress display
//   -d DIR     extract into DIR (made with its parents; no question)
//   -o, -n     overwrite every existing file / keep every existing file
//   -l, -t     list the entries / test them; nothing is written
//   -p FILE    the passphrase is the first line of FILE
//   -x         extract only: do not run the program an installer names
//   -j N       N threads write files (default: one per processor)
//   -f, --no-space-check   extract without comparing the files' size with
//              the destination's free space first
//   -y, --accept   accept an installer's message without showing it
//   -log FILE  (also /log FILE) record what was done and any error in FILE
//   -h, --help the usage text; with -l, -h shows sizes in kB, MB and GB
//   --version  the version
//   -- ARGS    everything after it goes to the program an installer runs
//
// A command line of exactly "-q" means what it always meant: extract
// silently into the current folder.
#pragma once

#include <string>
#include <vector>

#include "errors/exception.h"
#include "io/text/string.h"

namespace quillon::self {

// A command line that is not understood: an unknown switch, a switch
// without its argument, switches that exclude each other. Shown with the
// usage text; exit code 2.
class usage_error : public un::exception {
public:
    explicit usage_error(std::string message) : un::exception(std::move(message), "quillon::self::options") {}
};

struct options {
    enum class action { extract, list, test, help, version };
    // What to do with an entry whose file exists already.
    enum class overwrite { ask, always, never };

    action what = action::extract;
    overwrite existing = overwrite::ask;
    bool quiet = false;
    bool run_program = true;
    // The files' size is compared with the destination's free space before
    // anything is written (-f turns it off).
    bool check_space = true;
    // -l -h: sizes as "1.2 MB".
    bool human_sizes = false;
    // The installer's message is accepted without being shown (as -q
    // accepts it, without -q's other effects).
    bool accept = false;
    // Threads that write files; 0: one per processor.
    unsigned threads = 0;
    // After "--": arguments for the program an installer runs.
    std::vector<any::string> program_arguments;
    // Empty when not given.
    any::string destination;
    any::string passphrase_file;
    any::string log_file;

    // The switches after the program's name. "-h" or "--help" anywhere
    // (before "--") asks for the usage text, except that "-h" beside "-l"
    // asks for sizes in kB, MB and GB; "--version" asks for the version;
    // otherwise raises usage_error for anything
    // not understood, the argument named in it (made printable).
    static options parse(const std::vector<any::string>& arguments);
    // Whether `arguments` ask for a run without windows that wait for a
    // click (-q, -l or -t before "--"), read also from a command line that
    // `parse` refuses: its error is then told without a window too.
    static bool unattended(const std::vector<any::string>& arguments);

    // The usage text, naming the program `program` (UTF-8); ends with a
    // line break.
    static std::string usage(const std::string& program);
};

}  // namespace quillon::self
