#include "zip/method.h"

#include "zip/records.h"

namespace format::zip {

namespace {

constexpr method decoded[] = {
    {records::stored, "stored", open_stored, false},          {records::deflated, "deflated", open_deflated, false},
    {records::deflate64, "Deflate64", open_deflate64, false}, {records::lzma, "LZMA", open_lzma, true},
    {records::zstandard, "Zstandard", open_zstd, true},
};

// Names of the methods the format defines, decoded here or not.
struct named {
    std::uint16_t number;
    const char* name;
};
constexpr named names[] = {
    {0, "stored"},
    {1, "shrunk"},
    {2, "reduced"},
    {3, "reduced"},
    {4, "reduced"},
    {5, "reduced"},
    {6, "imploded"},
    {8, "deflated"},
    {9, "Deflate64"},
    {10, "PKWARE imploded"},
    {12, "bzip2"},
    {14, "LZMA"},
    {16, "IBM z/OS CMPSC"},
    {18, "IBM TERSE"},
    {19, "IBM LZ77"},
    {93, "Zstandard"},
    {94, "MP3"},
    {95, "XZ"},
    {96, "JPEG"},
    {97, "WavPack"},
    {98, "PPMd"},
    {99, "AES encrypted"},
};

}  // namespace

const method* find_method(std::uint16_t number) {
    for (const method& known : decoded)
        if (known.number == number) return &known;
    return nullptr;
}

std::string method_name(std::uint16_t number) {
    for (const named& known : names)
        if (known.number == number) return known.name;
    return "method " + std::to_string(number);
}

}  // namespace format::zip
