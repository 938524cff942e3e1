// The packer's resource editor on arbitrary bytes taken as a Windows
// program: it may refuse the image (format::exception), or it must write
// an icon, a version block and an execution level into it, and the image it
// writes must read back as the tree it wrote. No crash, no hang, no read
// outside the buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "errors/exception.h"
#include "packer/pe_resources.h"

namespace {

using quillon::pack::resource_editor;

// An icon file of one 1x1 32-bit bitmap.
std::vector<std::uint8_t> small_icon() {
    std::vector<std::uint8_t> ico = {0,  0, 1, 0, 1, 0,                      // ICONDIR: one icon
                                     1,  1, 0, 0, 1, 0, 32, 0, 48, 0, 0, 0,  // 1x1, 32 bits, 48 bytes
                                     22, 0, 0, 0};                           // at 22
    const std::uint8_t header[40] = {40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32};
    ico.insert(ico.end(), header, header + sizeof header);
    ico.resize(ico.size() + 8);  // the pixel and its mask row
    return ico;
}

bool same_info(const resource_editor::directory_info& a, const resource_editor::directory_info& b) {
    return a.characteristics == b.characteristics && a.time_stamp == b.time_stamp && a.major == b.major &&
           a.minor == b.minor;
}

bool same_tree(const std::vector<resource_editor::type_node>& a, const std::vector<resource_editor::type_node>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t t = 0; t < a.size(); ++t) {
        const auto &x = a[t], &y = b[t];
        if (!(x.type == y.type) || !same_info(x.info, y.info) || x.names.size() != y.names.size()) return false;
        for (std::size_t n = 0; n < x.names.size(); ++n) {
            const auto &p = x.names[n], &q = y.names[n];
            if (!(p.name == q.name) || !same_info(p.info, q.info) || p.languages.size() != q.languages.size())
                return false;
            for (std::size_t l = 0; l < p.languages.size(); ++l) {
                const auto &u = p.languages[l], &v = q.languages[l];
                if (!(u.language == v.language) || u.data != v.data || u.code_page != v.code_page) return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> icon = small_icon();
    std::vector<std::uint8_t> written;
    std::vector<resource_editor::type_node> tree;
    try {
        resource_editor editor(std::vector<std::uint8_t>(data, data + size));
        editor.replace_icon(icon);
        editor.replace_version({{"ProductName", "fuzz"}, {"FileVersion", "1.2.3.4"}});
        editor.set_execution_level(resource_editor::execution_level::require_administrator);
        written = editor.image();
        tree = editor.types();
    } catch (const format::exception&) {
        return 0;  // refused
    }
    try {
        if (!same_tree(resource_editor(written).types(), tree)) {
            std::fprintf(stderr, "the written tree reads back differently\n");
            std::abort();
        }
    } catch (const format::exception& failure) {
        std::fprintf(stderr, "written but refused: %s\n", failure.message.c_str());
        std::abort();
    }
    return 0;
}
