// quillon-inflate: decodes raw Deflate from standard input (or a file) to
// standard output with the project's decompressor. Benchmarks and
// differential tests drive the decoder from outside through it.
//
//   quillon-inflate [-e extent] [-p] [file]
//     -e extent  log2 of the window size, 10 to 25, or 0 to read it from
//                the first byte (default 15)
//     -p         pull mode: read the decoded bytes piecewise instead of
//                pushing them with copy_to
//
// Exit codes: 0 done, 1 bad usage or unreadable file, 2 the decoder failed
// (its message on standard error).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "errors/exception.h"
#include "flate/decompressor.h"
#include "stream/input.h"
#include "stream/output.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

class file_input : public stream::input {
public:
    explicit file_input(std::FILE* file) : file(file) {}

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override {
        auto got = static_cast<std::uint32_t>(std::fread(buffer, 1, length, file));
        position_ += got;
        return got;
    }
    int do_get() override {
        int byte = std::fgetc(file);
        if (byte != EOF) ++position_;
        return byte == EOF ? -1 : byte;
    }
    stream::size_type do_position() override { return position_; }

private:
    std::FILE* file;
    stream::size_type position_ = 0;
};

class file_output : public stream::output {
public:
    explicit file_output(std::FILE* file) : file(file) {}

    using stream::output::write;
    void write(const void* bytes, std::uint32_t length) override {
        if (bytes == nullptr || length == 0) return;
        if (std::fwrite(bytes, 1, length, file) != length)
            throw un::exception("cannot write the output", "quillon-inflate");
        position_ += length;
    }
    void put(int byte) override {
        auto b = static_cast<std::uint8_t>(byte);
        write(&b, 1);
    }
    stream::size_type position() override { return position_; }
    void flush() override {
        if (std::fflush(file) != 0) throw un::exception("cannot write the output", "quillon-inflate");
    }

private:
    std::FILE* file;
    stream::size_type position_ = 0;
};

int usage() {
    std::fputs("usage: quillon-inflate [-e extent] [-p] [file]\n", stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int extent = 15;
    bool pull = false;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-e") == 0 && i + 1 < argc) {
            char* end;
            extent = static_cast<int>(std::strtol(argv[++i], &end, 10));
            if (*end != '\0') return usage();
        } else if (std::strcmp(argv[i], "-p") == 0) {
            pull = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (name == nullptr) {
            name = argv[i];
        } else {
            return usage();
        }
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::FILE* in = name ? std::fopen(name, "rb") : stdin;
    if (in == nullptr) {
        std::fprintf(stderr, "quillon-inflate: cannot open %s\n", name);
        return 1;
    }
    static char out_buffer[1 << 16];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    try {
        file_input source(in);
        file_output target(stdout);
        algorithm::flate::decompressor inflater(source, extent, false);
        if (pull) {
            std::vector<std::uint8_t> piece(65536);
            while (std::uint32_t got = inflater.read(piece.data(), static_cast<std::uint32_t>(piece.size())))
                target.write(piece.data(), got);
            target.flush();
        } else {
            inflater.copy_to(target);
        }
        inflater.finish();
    } catch (const un::exception& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", un::display_text(failure).c_str());
        return 2;
    }
    if (name) std::fclose(in);
    return 0;
}
