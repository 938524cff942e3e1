// The packer's command line: what `quillon-pack --help` shows and the
// options it reads into.
#pragma once

#include <string>
#include <vector>

#include "packer/compressor.h"
#include "packer/stub_search.h"

namespace quillon::pack {

struct options {
    std::string output, stub, passphrase_file, list, test;
    std::vector<std::string> inputs;
    std::vector<std::string> excluded;  // --exclude patterns
    std::string target = native_target();
    bool ask_passphrase = false, follow_links = false, zipcrypto = false;
    bool human_sizes = false;  // --list -h
    // An installer's settings; `installer` when any is given.
    std::string title, message, message_file, buttons, destination, run;
    bool cleanup = false, installer = false;
    int level = 6;
    method_choice method = method_choice::deflate;
    unsigned workers = 0;  // 0: one per core

    // The options of the command line; --help prints the usage and ends the
    // program. Throws `failure` for an unknown option or a bad value.
    static options parse(int argc, char** argv);
    // The number of workers to use: -j, else one per core.
    unsigned worker_count() const;
};

}  // namespace quillon::pack
