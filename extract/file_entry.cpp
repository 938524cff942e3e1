#include "extract/file_entry.h"

#include "extract/entry_writer.h"
#include "io/file.h"
#include "stream/fork_output.h"
#include "zip/item_reader.h"

namespace format::zip {

namespace {

// Entry data between two progress reports.
constexpr std::uint32_t progress_step = 32768;

}  // namespace

void file_entry::write(stream::random::input& archive, entry_writer& writer, const std::string& passphrase,
                       format::progress_sink* sink) const {
    io::file target(writer.path_of(name_));
    naming(header_.fields.name_text, [&] {
        archive.seek(data_);
        // The passphrase is checked before the file is made, so that a
        // wrong one leaves nothing behind.
        item_reader reader(header_);
        reader.prepare(archive, passphrase);

        writer.create_file(name_, target, replace_);
        try {
            stream::fork_output output(target.data_fork());
            stream::progress_input counted(archive, sink, archive.position(), progress_step);
            reader.process(counted, output);
            writer.close_file(target, header_.fields.modified, mode_);
            counted.finish();
        } catch (...) {
            writer.discard_file(name_, target);
            throw;
        }
    });
}

}  // namespace format::zip
