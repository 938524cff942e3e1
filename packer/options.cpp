#include "packer/options.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "packer/output_file.h"
#include "quillon/build_version.h"

namespace quillon::pack {

namespace {

const char usage[] = R"(usage: quillon-pack [options] -o OUTPUT INPUT...
       quillon-pack --list [-h] SFX
       quillon-pack --test SFX

Makes OUTPUT, a self-extracting program: a stub followed by a Zip archive.
INPUT is one .zip file (appended as it is, offsets adjusted) or files and
folders (packed into a new archive, names relative to each INPUT's parent).

  -o OUTPUT             the program to write (replaced only when complete)
  --target TARGET       the platform the program is for: linux-x86_64,
                        linux-aarch64 or windows (the 32-bit Windows stub);
                        default: the one quillon-pack runs on
  --windows             the same as --target windows
  --stub FILE           use FILE as the stub
  --method M            compress with deflate (the default; every Zip tool
                        reads it), lzma or zstd (smaller programs; 7-Zip and
                        bsdtar read both, Python's zipfile LZMA, unzip 6.0
                        neither)
  -0                    store files without compressing them
  -1 ... -12            from faster to smaller (default 6); files that do
                        not get smaller are stored
  -j N                  compress with N threads (default: one per core); the
                        output is the same whatever N
  --exclude PATTERN     leave out what PATTERN matches (repeatable): a glob
                        on the name below INPUT's parent ("app/docs/*"), or,
                        without "/", on any name's last part ("*.pyc");
                        .git folders and OUTPUT itself are never packed
  --follow-links        pack what symbolic links point at instead of the
                        links themselves (links named as INPUT are always
                        followed; a link that points nowhere stays a link;
                        a link to an absolute path is skipped with a warning)
  --passphrase-file F   encrypt files with the passphrase in F (first line)
  --passphrase          ask for the passphrase on the terminal
                        Files are encrypted with AES-256 (WinZip's AE-2): the
                        stubs, 7-Zip, bsdtar and WinZip read it; unzip 6.0
                        and Windows Explorer do not.
  --zipcrypto           encrypt with the traditional Zip cipher instead, which
                        unzip 6.0 and Windows Explorer read too; it keeps out
                        the curious, not a determined attacker

Installers (settings kept in the archive comment; see the README):
  --title TEXT          the title of every window and message
  --message TEXT        text shown before anything else (a licence, a
                        notice), with "I Agree" and "Cancel"
  --message-file FILE   the same, read from FILE (up to 32 KiB)
  --buttons 'A|D'       the words of the message's two buttons, for example
                        'OK|Cancel' for a plain notice
  --destination PATH    the default destination: below the current folder,
                        or {temp}/... (a new private temporary folder) or
                        {home}/...
  --run 'PROGRAM ARGS'  run PROGRAM (a file of the archive, relative to the
                        destination) after extracting, with ARGS split at
                        blanks (quotes group); the stub returns its exit code
  --cleanup             remove the {temp} folder after PROGRAM has ended
                        An installer made from one folder keeps the folder's
                        name (PROGRAM is then FOLDER/...), unless it has a
                        --destination: then it holds what is in the folder,
                        and the destination takes the folder's place.

  --list SFX            list the entries of a self-extracting program or zip
  --human-readable      sizes in --list in kB, MB and GB; -h beside --list
  --test SFX            decode every entry in memory and check every CRC
  -h, --help            this text
  --version             the version of quillon-pack

Files, folders and links keep their Unix modes and modification times (UTC);
sockets, FIFOs and devices are skipped with a warning. Zip64 records are
written where sizes, offsets or the number of entries need them.

Exit codes: 0 done, 2 failure (one message on standard error).
)";

constexpr unsigned most_workers = 256;

unsigned parse_workers(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    const unsigned n = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
    if (n < 1 || n > most_workers) throw failure{"-j takes a number of threads from 1 to 256"};
    return n;
}

}  // namespace

options options::parse(int argc, char** argv) {
    options o;
    // -h is the usage text, except beside --list, where it means sizes as
    // people read them (as ls -l -h shows them).
    bool listing = false;
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i)
        listing = listing || std::string(argv[i]) == "--list";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw failure{a + " needs a value"};
            return argv[++i];
        };
        if ((a == "-h" && listing) || a == "--human-readable") {
            o.human_sizes = true;
        } else if (a == "-h" || a == "--help") {
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
        } else if (a == "--zipcrypto") {
            o.zipcrypto = true;
        } else if (a == "--method") {
            o.method = method_named(value());
        } else if (a == "--exclude") {
            o.excluded.push_back(value());
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
        } else if (a == "--buttons") {
            o.buttons = value(), o.installer = true;
        } else if (a == "--destination") {
            o.destination = value(), o.installer = true;
        } else if (a == "--run") {
            o.run = value(), o.installer = true;
        } else if (a == "--cleanup") {
            o.cleanup = o.installer = true;
        } else if (a == "--list") {
            // --list -h SFX: the -h belongs to --list, not its value.
            if (i + 1 < argc && std::string(argv[i + 1]) == "-h") o.human_sizes = true, ++i;
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

unsigned options::worker_count() const {
    if (workers) return workers;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? std::min(cores, most_workers) : 1;
}

}  // namespace quillon::pack
