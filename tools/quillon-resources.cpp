// quillon-resources: changes the resources of a Windows program the way the
// packer does before it appends an archive (packer/pe_resources.h). Tests
// and developers drive the resource editor from outside through it.
//
//   quillon-resources [--icon FILE.ico] [--version-info 'Key=value;...']
//                     [--admin] INPUT OUTPUT
//     --icon          the icon the program shows, from a .ico file
//     --version-info  the version block's strings (ProductName,
//                     FileVersion, ...)
//     --admin         the manifest asks for administrator rights
//                     (requireAdministrator; asInvoker otherwise)
//
// Exit codes: 0 done, 1 bad usage or a file that cannot be read or
// written, 2 the editor refused (its message on standard error).
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "packer/pe_resources.h"

namespace {

using quillon::pack::resource_editor;

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

int usage() {
    std::cerr << "usage: quillon-resources [--icon FILE.ico] [--version-info 'Key=value;...'] [--admin] INPUT OUTPUT\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string icon, version, input, output;
    bool admin = false, versioned = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--icon" || a == "--version-info") && i + 1 < argc) {
            (a == "--icon" ? icon : version) = argv[++i];
            versioned = versioned || a == "--version-info";
        } else if (a == "--admin") {
            admin = true;
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else if (input.empty()) {
            input = a;
        } else if (output.empty()) {
            output = a;
        } else {
            return usage();
        }
    }
    if (output.empty()) return usage();

    std::vector<std::uint8_t> program, ico;
    if (!read_file(input, program) || (!icon.empty() && !read_file(icon, ico))) {
        std::cerr << "quillon-resources: cannot read " << (ico.empty() && !icon.empty() ? icon : input) << "\n";
        return 1;
    }
    try {
        resource_editor editor(std::move(program));
        if (!icon.empty()) editor.replace_icon(ico);
        if (versioned) editor.replace_version(resource_editor::parse_version_strings(version));
        editor.set_execution_level(admin ? resource_editor::execution_level::require_administrator
                                         : resource_editor::execution_level::as_invoker);
        if (!write_file(output, editor.image())) {
            std::cerr << "quillon-resources: cannot write " << output << "\n";
            return 1;
        }
    } catch (const un::exception& failure) {
        std::cerr << "quillon-resources: " << un::display_text(failure) << "\n";
        return 2;
    }
    return 0;
}
