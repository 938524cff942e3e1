// quillon-pack: turns a .zip, or files and folders, into a self-extracting
// program: the stub followed by the archive, every offset counted from the
// start of the whole file.
#include <strings.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "packer/archive_packer.h"
#include "packer/input_file.h"
#include "packer/input_tree.h"
#include "packer/installer_settings.h"
#include "packer/listing.h"
#include "packer/options.h"
#include "packer/output_file.h"
#include "packer/passphrase.h"
#include "packer/stub_search.h"
#include "packer/zip_append.h"

namespace quillon::pack {

namespace {

bool is_zip_name(const std::string& path) {
    return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".zip") == 0;
}

// The stub goes first, read from start to end (it may come from a pipe).
void copy_stub(const std::string& path, output_file& out) {
    input_file stub(path, input_file::kind::stream);
    std::vector<std::uint8_t> piece(1 << 20);
    while (const std::size_t n = stub.read_some(piece.data(), piece.size())) out.write(piece.data(), n);
}

void pack(const options& o) {
    if (o.output.empty()) throw failure{"name the output with -o (see --help)"};
    if (o.inputs.empty()) throw failure{"name what to pack (see --help)"};
    passphrase secret;
    if (!o.passphrase_file.empty()) secret.read_file(o.passphrase_file);
    if (o.ask_passphrase) secret.ask();
    const bool append = o.inputs.size() == 1 && is_zip_name(o.inputs[0]);
    if (append && !secret.empty())
        throw failure{"a .zip is appended as it is and cannot be encrypted; pack its contents instead"};

    // Everything that can fail on the inputs is checked before the output
    // is made.
    if (append && o.installer)
        throw failure{
            "a .zip is appended as it is: write an installer's settings into its comment with zip -z, "
            "or pack its contents"};
    std::vector<input_entry> entries;
    if (!append) entries = walk_inputs(o.inputs, {o.follow_links, o.excluded, o.output}, std::cerr);
    if (!o.destination.empty() && o.inputs.size() == 1) contents_of_the_folder(entries);
    const std::string comment = o.installer ? installer_comment(o, entries) : std::string();
    const std::string stub = find_stub(o.stub, o.target);

    output_file out(o.output);
    copy_stub(stub, out);
    if (append) {
        append_zip(out, o.inputs[0]);
    } else {
        pack_settings settings;
        settings.level = o.level;
        settings.method = o.method;
        settings.passphrase = secret.view();
        settings.cipher = o.zipcrypto ? encryption::traditional : encryption::aes;
        settings.follow_links = o.follow_links;
        settings.workers = o.worker_count();
        settings.comment = comment;
        archive_packer packer(out, settings);
        packer.pack(entries);
    }
    out.commit();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const options o = options::parse(argc, argv);
        if (!o.list.empty()) return list_entries(o.list, o.human_sizes, std::cout);
        if (!o.test.empty()) {
            passphrase secret;
            if (!o.passphrase_file.empty()) secret.read_file(o.passphrase_file);
            return test_entries(o.test, secret.view(), std::cout);
        }
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
