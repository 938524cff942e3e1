// quillon-pack's append path on arbitrary bytes: the input is written as a
// .zip in a scratch folder and appended behind a small stand-in stub. The
// packer may refuse it (one `failure`, nothing left behind), or it must
// write a program whose archive the reader takes whole: an archive the
// packer accepts is one the stub can extract. No crash, no hang, and no
// file left in the folder but the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "errors/exception.h"
#include "fuzz/scratch.h"
#include "io/file.h"
#include "packer/output_file.h"
#include "packer/zip_append.h"
#include "stream/fork_input.h"
#include "zip/archive.h"
#include "zip/survey.h"

namespace {

namespace fs = std::filesystem;

// The input zip, alone in its folder between runs.
struct sandbox {
    fuzz::scratch place{"append"};
    const fs::path zip = place.folder() / "input.zip";
    const fs::path program = place.folder() / "program.run";
    void check() const { fuzz::scratch::expect_only(place.folder(), {"input.zip"}); }
};

// The packed program read as the stub reads it, from its start.
void expect_readable(const fs::path& program) {
    io::file file(io::path(any::string(program.string())));
    file.data_fork().open();
    stream::fork_input input(file.data_fork());
    format::archive_events none;
    format::zip::archive reader(input);
    std::string passphrase;
    try {
        reader.locate();
        format::zip::survey check(reader, none, passphrase, true);
        check.run(false);
        check.raise_first();
    } catch (const format::exception& failure) {
        // Checked before the output was written, the archive must still read
        // the same after its offsets moved. An encrypted link's target needs a
        // passphrase this check does not have.
        if (failure.where != "format::zip::encryption_header") {
            std::fprintf(stderr, "packed but unreadable: %s: %s\n", failure.where.c_str(), failure.message.c_str());
            std::abort();
        }
    }
    file.data_fork().close(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static sandbox place;
    fuzz::scratch::write(place.zip, data, size);
    bool packed = false;
    try {
        quillon::pack::output_file out(place.program.string());
        const char stub[] = "#!/bin/sh\nexit 0\n# a stand-in for the stub, whose bytes the offsets must skip\n";
        out.write(stub, sizeof stub - 1);
        quillon::pack::append_zip(out, place.zip.string());
        out.commit();
        packed = true;
    } catch (const quillon::pack::failure&) {
        // A refusal: the partial output is gone with `out`.
    } catch (const un::exception&) {
        // A refusal raised below the packer (the reader's, the file layer's).
    }
    if (packed) {
        expect_readable(place.program);
        fs::remove(place.program);
    }
    place.check();
    return 0;
}
