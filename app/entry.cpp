#include "app/entry.h"

#include "app/destination_dialog.h"
#include "app/driver.h"
#include "app/host.h"
#include "errors/exception.h"
#include "image/image.h"
#include "io/directory.h"
#include "io/file.h"

namespace quillon::self {

int entry::run(bool quiet) {
    try {
        // The own file is the input of the whole extraction; its size, taken
        // before the archive is located, is the progress display's total.
        io::file own(host::own_path());
        own.data_fork().open();
        driver extraction(own, quiet);

        const any::string current = host::current_directory();
        io::directory destination{io::path(current)};
        if (!quiet) {
            destination.path() = io::path(destination_dialog().ask(current));
            // A folder typed in that does not exist yet is made, with its
            // parents: folder entries only ever create one level.
            if (!destination.path().empty() && !destination.exists()) destination.create_with_parents(true);
        }

        own.data_fork().seek(image(host::own_image()).archive_offset());
        extraction.run(destination);
        own.data_fork().close(false);
        return done;
    } catch (const evacuation&) {
        return cancelled;
    } catch (const un::exception& failure) {
        try {
            host::show_error(un::display_text(failure));
        } catch (...) {
            return aborted;
        }
        return failed;
    } catch (...) {
        return aborted;
    }
}

}  // namespace quillon::self
