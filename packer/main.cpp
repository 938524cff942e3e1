// quillon-pack: turns a .zip, or files and folders, into a self-extracting
// program: the stub followed by the archive, every offset counted from the
// start of the whole file.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "errors/exception.h"
#include "packer/archive_packer.h"
#include "packer/input_file.h"
#include "packer/input_tree.h"
#include "packer/listing.h"
#include "packer/output_file.h"
#include "packer/stub_search.h"
#include "packer/zip_append.h"
#include "quillon/build_version.h"
#include "zip/settings.h"

namespace quillon::pack {

namespace {

const char usage[] =
    "usage: quillon-pack [options] -o OUTPUT INPUT...\n"
    "       quillon-pack --list SFX\n"
    "       quillon-pack --test SFX\n"
    "\n"
    "Makes OUTPUT, a self-extracting program: a stub followed by a Zip archive.\n"
    "INPUT is one .zip file (appended as it is, offsets adjusted) or files and\n"
    "folders (packed into a new archive, names relative to each INPUT's parent).\n"
    "\n"
    "  -o OUTPUT             the program to write (replaced only when complete)\n"
    "  --target TARGET       the platform the program is for: linux-x86_64,\n"
    "                        linux-aarch64 or windows (the 32-bit Windows stub);\n"
    "                        default: the one quillon-pack runs on\n"
    "  --windows             the same as --target windows\n"
    "  --stub FILE           use FILE as the stub\n"
    "  -0                    store files without compressing them\n"
    "  -1 ... -12            Deflate level (default 6); files that do not get\n"
    "                        smaller are stored\n"
    "  -j N                  deflate with N threads (default: one per core); the\n"
    "                        output is the same whatever N\n"
    "  --follow-links        pack what symbolic links point at instead of the\n"
    "                        links themselves (links named as INPUT are always\n"
    "                        followed; a link that points nowhere stays a link)\n"
    "  --passphrase-file F   encrypt files with the passphrase in F (first line)\n"
    "  --passphrase          ask for the passphrase on the terminal\n"
    "                        Traditional Zip encryption is weak: it keeps out the\n"
    "                        curious, not a determined attacker.\n"
    "\n"
    "Installers (settings kept in the archive comment; see the README):\n"
    "  --title TEXT          the title of every window and message\n"
    "  --message TEXT        text shown before anything else, with OK and Cancel\n"
    "  --message-file FILE   the same, read from FILE (up to 32 KiB)\n"
    "  --destination PATH    the default destination: below the current folder,\n"
    "                        or {temp}/... (a new private temporary folder) or\n"
    "                        {home}/...\n"
    "  --run 'PROGRAM ARGS'  run PROGRAM (a file of the archive, relative to the\n"
    "                        destination) after extracting, with ARGS split at\n"
    "                        blanks (quotes group); the stub returns its exit code\n"
    "  --cleanup             remove the {temp} folder after PROGRAM has ended\n"
    "                        An installer made from one folder holds what is in\n"
    "                        it: the destination takes the folder's place.\n"
    "\n"
    "  --list SFX            list the entries of a self-extracting program or zip\n"
    "  --test SFX            decode every entry in memory and check every CRC\n"
    "  -h, --help            this text\n"
    "  --version             the version of quillon-pack\n"
    "\n"
    "Files, folders and links keep their Unix modes and modification times (UTC);\n"
    "sockets, FIFOs and devices are skipped with a warning. Zip64 records are\n"
    "written where sizes, offsets or the number of entries need them.\n"
    "\n"
    "Exit codes: 0 done, 2 failure (one message on standard error).\n";

struct options {
    std::string output, stub, passphrase_file, list, test;
    std::vector<std::string> inputs;
    std::string target = native_target();
    bool ask_passphrase = false, follow_links = false;
    // An installer's settings; `installer` when any is given.
    std::string title, message, message_file, destination, run;
    bool cleanup = false, installer = false;
    int level = 6;
    unsigned workers = 0;  // 0: one per core
};

constexpr unsigned most_workers = 256;

unsigned parse_workers(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    const unsigned n = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
    if (n < 1 || n > most_workers) throw failure{"-j takes a number of threads from 1 to 256"};
    return n;
}

unsigned default_workers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? std::min(cores, most_workers) : 1;
}

options parse(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw failure{a + " needs a value"};
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << usage;
            std::exit(0);
        } else if (a == "-o") {
            o.output = value();
        } else if (a == "--version") {
            std::cout << "quillon-pack " QUILLON_VERSION_TEXT "\n";
            std::exit(0);
        } else if (a == "--windows") {
            o.target = "windows";
        } else if (a == "--target") {
            o.target = value();
            check_target(o.target);
        } else if (a == "--stub") {
            o.stub = value();
        } else if (a == "--passphrase-file") {
            o.passphrase_file = value();
        } else if (a == "--passphrase") {
            o.ask_passphrase = true;
        } else if (a == "--follow-links") {
            o.follow_links = true;
        } else if (a == "-j") {
            o.workers = parse_workers(value());
        } else if (a.compare(0, 2, "-j") == 0) {
            o.workers = parse_workers(a.substr(2));
        } else if (a == "--title") {
            o.title = value(), o.installer = true;
        } else if (a == "--message") {
            o.message = value(), o.installer = true;
        } else if (a == "--message-file") {
            o.message_file = value(), o.installer = true;
        } else if (a == "--destination") {
            o.destination = value(), o.installer = true;
        } else if (a == "--run") {
            o.run = value(), o.installer = true;
        } else if (a == "--cleanup") {
            o.cleanup = o.installer = true;
        } else if (a == "--list") {
            o.list = value();
        } else if (a == "--test") {
            o.test = value();
        } else if (a.size() >= 2 && a[0] == '-' && a.find_first_not_of("0123456789", 1) == std::string::npos) {
            o.level = std::stoi(a.substr(1));
            if (o.level > 12) throw failure{"levels go from -0 to -12"};
        } else if (a == "--") {
            for (++i; i < argc; ++i) o.inputs.push_back(argv[i]);
        } else if (!a.empty() && a[0] == '-') {
            throw failure{"unknown option " + a + " (see --help)"};
        } else {
            o.inputs.push_back(a);
        }
    }
    return o;
}

std::string read_passphrase_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw failure{"cannot read the passphrase file \"" + path + "\""};
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw failure{"the passphrase file \"" + path + "\" is empty"};
    return line;
}

std::string prompt_hidden(const char* prompt) {
    std::cerr << prompt << std::flush;
    termios saved{};
    bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    if (!got) throw failure{"no passphrase given"};
    return line;
}

std::string ask_passphrase() {
    if (!isatty(STDIN_FILENO)) throw failure{"--passphrase asks on a terminal; use --passphrase-file otherwise"};
    std::string first = prompt_hidden("Passphrase: ");
    if (first.empty()) throw failure{"the passphrase is empty"};
    if (prompt_hidden("Passphrase again: ") != first) throw failure{"the passphrases differ"};
    return first;
}

bool is_zip_name(const std::string& path) {
    return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".zip") == 0;
}

// The stub goes first, read from start to end (it may come from a pipe).
void copy_stub(const std::string& path, output_file& out) {
    input_file stub(path, input_file::kind::stream);
    std::vector<std::uint8_t> piece(1 << 20);
    while (const std::size_t n = stub.read_some(piece.data(), piece.size())) out.write(piece.data(), n);
}

// The words of --run: split at blanks; single and double quotes group (a
// backslash takes the next character as it is outside single quotes).
std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(word), word.clear(), in_word = false;
        } else if (c == '\'' || c == '"') {
            quote = c, in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i], in_word = true;
        } else {
            word += c, in_word = true;
        }
    }
    if (quote) throw failure{"--run has an unclosed quote"};
    if (in_word) words.push_back(word);
    return words;
}

std::string read_message_file(const std::string& path) {
    input_file file(path, input_file::kind::stream);
    std::string text;
    std::vector<std::uint8_t> piece(1 << 16);
    while (const std::size_t n = file.read_some(piece.data(), piece.size())) {
        text.append(reinterpret_cast<const char*>(piece.data()), n);
        if (text.size() > format::zip::settings::longest_message) break;
    }
    return text;
}

// The settings comment of an installer, checked as the stub will read it.
std::string installer_comment(const options& o, const std::vector<input_entry>& entries) {
    std::string message = o.message_file.empty() ? o.message : read_message_file(o.message_file);
    if (!o.message.empty() && !o.message_file.empty()) throw failure{"give --message or --message-file, not both"};
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    if (message.size() > format::zip::settings::longest_message) throw failure{"the message is longer than 32 KiB"};
    std::string text = std::string(format::zip::settings::marker) + "\n";
    auto line = [&](const std::string& key, const std::string& value) {
        if (value.find_first_of("\r\n") != std::string::npos) throw failure{"--" + key + " must be one line"};
        text += key + "=" + value + "\n";
    };
    if (!o.title.empty()) line("title", o.title);
    for (std::size_t at = 0; !message.empty() && at <= message.size();) {
        std::size_t end = message.find('\n', at);
        if (end == std::string::npos) end = message.size();
        std::string one = message.substr(at, end - at);
        if (!one.empty() && one.back() == '\r') one.pop_back();
        text += "message=" + one + "\n";
        at = end + 1;
    }
    if (!o.destination.empty()) line("destination", o.destination);
    const std::vector<std::string> words = split_words(o.run);
    if (!o.run.empty() && words.empty()) throw failure{"--run names no program"};
    if (!words.empty()) {
        line("run", words[0]);
        for (std::size_t i = 1; i < words.size(); ++i) line("argument", words[i]);
    }
    if (o.cleanup) text += "cleanup=yes\n";
    // The stub's own reading: every refusal it would make, made now.
    format::zip::settings chosen;
    try {
        chosen = format::zip::settings::parse(text);
    } catch (const un::exception& e) {
        throw failure{un::display_text(e)};
    }
    if (!chosen.run.empty()) {
        const std::string wanted = chosen.run.join().to_utf8();
        const bool found = std::any_of(entries.begin(), entries.end(), [&](const input_entry& e) {
            return e.kind == entry_kind::file && e.name == wanted;
        });
        if (!found) throw failure{"--run: \"" + wanted + "\" is not a file of what is packed"};
    }
    return text;
}

// An installer made from one folder holds what is in it, so that its
// destination takes the folder's place (and --run names the program as it
// lies in the folder).
void contents_of_the_folder(std::vector<input_entry>& entries) {
    if (entries.empty() || entries.front().kind != entry_kind::folder) return;
    const std::string prefix = entries.front().name;
    entries.erase(entries.begin());
    for (input_entry& e : entries) e.name.erase(0, prefix.size());
}

void pack(const options& o) {
    if (o.output.empty()) throw failure{"name the output with -o (see --help)"};
    if (o.inputs.empty()) throw failure{"name what to pack (see --help)"};
    std::string passphrase;
    if (!o.passphrase_file.empty()) passphrase = read_passphrase_file(o.passphrase_file);
    if (o.ask_passphrase) passphrase = ask_passphrase();
    const bool append = o.inputs.size() == 1 && is_zip_name(o.inputs[0]);
    if (append && !passphrase.empty())
        throw failure{"a .zip is appended as it is and cannot be encrypted; pack its contents instead"};

    // Everything that can fail on the inputs is checked before the output
    // is made.
    if (append && o.installer)
        throw failure{
            "a .zip is appended as it is: write an installer's settings into its comment with zip -z, "
            "or pack its contents"};
    std::vector<input_entry> entries;
    if (!append) entries = walk_inputs(o.inputs, o.follow_links, std::cerr);
    if (o.installer && o.inputs.size() == 1) contents_of_the_folder(entries);
    const std::string comment = o.installer ? installer_comment(o, entries) : std::string();
    const std::string stub = find_stub(o.stub, o.target);

    output_file out(o.output);
    copy_stub(stub, out);
    if (append) {
        append_zip(out, o.inputs[0]);
    } else {
        archive_packer packer(
            out, {o.level, passphrase, o.follow_links, o.workers ? o.workers : default_workers(), comment});
        packer.pack(entries);
    }
    out.commit();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        options o = parse(argc, argv);
        if (!o.list.empty()) return list_entries(o.list, std::cout);
        if (!o.test.empty())
            return test_entries(o.test, o.passphrase_file.empty() ? "" : read_passphrase_file(o.passphrase_file),
                                std::cout);
        pack(o);
        return 0;
    } catch (const failure& f) {
        std::cerr << "quillon-pack: " << f.message << "\n";
    } catch (const std::exception& e) {
        std::cerr << "quillon-pack: " << e.what() << "\n";
    }
    return 2;
}

}  // namespace quillon::pack

int main(int argc, char** argv) { return quillon::pack::main(argc, argv); }
