// Windows: the narrow form of names is the OEM code page; encoding falls
// back to the installed code pages in the order the system lists them.
#include <windows.h>

#include <cstdlib>

#include "io/text/code_pages.h"

namespace any::code_pages {
namespace {

std::vector<std::uint32_t>* enumerated = nullptr;

BOOL CALLBACK collect(LPSTR identifier) {
    enumerated->push_back(static_cast<std::uint32_t>(std::strtoul(identifier, nullptr, 10)));
    return TRUE;
}

}  // namespace

std::uint32_t system_code_page() { return CP_OEMCP; }

bool decode(std::uint32_t code_page, const std::string& bytes, std::u16string& out) {
    out.assign(bytes.size(), u'\0');
    int produced = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()),
                                       reinterpret_cast<wchar_t*>(&out[0]), static_cast<int>(out.size()));
    out.resize(produced > 0 ? produced : 0);
    return produced > 0;
}

bool encode(std::uint32_t code_page, const std::u16string& text, std::string& out) {
    // Two bytes per unit leave room for the double-byte code pages.
    out.assign(text.size() * 2, '\0');
    BOOL used_default = FALSE;
    int produced =
        WideCharToMultiByte(code_page, 0, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()),
                            &out[0], static_cast<int>(out.size()), nullptr, &used_default);
    if (produced <= 0 || used_default) {
        out.clear();
        return false;
    }
    out.resize(produced);
    return true;
}

std::vector<std::uint32_t> enumerate_installed() {
    std::vector<std::uint32_t> identifiers;
    enumerated = &identifiers;
    EnumSystemCodePagesA(collect, CP_INSTALLED);
    enumerated = nullptr;
    return identifiers;
}

}  // namespace any::code_pages
