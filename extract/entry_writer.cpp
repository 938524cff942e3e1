#include "extract/entry_writer.h"

#include "errors/exception.h"
#include "io/link.h"
#include "io/system.h"
#include "io/system_error.h"

namespace format::zip {

namespace {

// A folder's name kept until the end in one string, not a list of strings:
// an archive may hold many thousands of folders. Each component is its
// length in two units, then its text.
std::u16string pack(const io::path& name) {
    std::u16string packed;
    for (const any::string& component : name.components()) {
        const std::u16string& text = component.wide();
        packed += static_cast<char16_t>(text.size() >> 16);
        packed += static_cast<char16_t>(text.size() & 0xFFFF);
        packed += text;
    }
    return packed;
}

io::path unpack(const std::u16string& packed) {
    io::path name;
    for (std::size_t at = 0; at + 2 <= packed.size();) {
        const std::size_t length = (std::size_t{packed[at]} << 16) | packed[at + 1];
        name.components().emplace_back(packed.substr(at + 2, length));
        at += 2 + length;
    }
    return name;
}

io::item_info info_of(io::time modified, std::uint32_t mode) {
    io::item_info info;
    info.modified = modified;
    info.has_modified = true;
    if (mode != 0) {
        info.has_mode = true;
        info.mode = mode & io::item_info::permission_bits;
    }
    return info;
}

}  // namespace

entry_writer::entry_writer(const io::directory& destination) : destination_(&destination), chain_(destination.path()) {}

io::path entry_writer::path_of(const io::path& name) const {
    io::path path = name;
    path.place_under(destination_->path());
    return path;
}

const io::folder_handle& entry_writer::parent_of(const io::path& name) { return chain_.reach(name.parent(), true); }

void entry_writer::folder(const io::path& name, io::time modified, std::uint32_t mode) {
    if (name.empty()) return;  // the destination itself
    io::path above = name.parent();
    if (!above.empty()) above.pop_back();
    try {
        // The destination itself is made when it is the parent.
        chain_.reach(above, name.components().size() == 1);
    } catch (const io::exception& failure) {
        // Folder entries make one missing parent, no more.
        io::system::set_last_error(failure.error);
        raise_system_error(path_of(name.parent()), "cannot create", "io::directory");
    }
    const io::folder_handle& parent = chain_.reach(name.parent(), true);
    switch (parent.kind_of(name.components().back())) {
        case io::folder_handle::kind::link:
            // A link of the user's own stays, and nothing is set through
            // it; nothing is written below it either.
            return;
        case io::folder_handle::kind::file:
        case io::folder_handle::kind::other:
            // A file of that name (an earlier entry's) keeps the folder from
            // being made; its entries could only fail later, or land
            // elsewhere.
            throw format::exception("cannot create the folder \"" + path_of(name).join().printable().to_utf8() +
                                        "\": something else of that name exists",
                                    "format::zip::archive");
        default:
            break;
    }
    // Its time now, its mode only at the end: it may forbid writing in it.
    chain_.reach(name, true).apply_info(info_of(modified, 0));
    folders_.push_back({pack(name), modified, mode});
}

void entry_writer::create_file(const io::path& name, io::file& target, bool replace) {
    try {
        target.data_fork().create_in(parent_of(name), replace);
    } catch (const io::exception&) {
        // A folder of the chain may have gone since the last file (removed
        // by someone else): it is looked for, and made, once more.
        chain_.forget();
        target.data_fork().create_in(parent_of(name), replace);
    }
}

void entry_writer::close_file(io::file& target, io::time modified, std::uint32_t mode) {
    // On the open file: no second walk of the path, and nothing through a
    // link that might have taken its place.
    target.info() = info_of(modified, mode);
    target.data_fork().apply_info(target.info());
    target.data_fork().close(true);
}

void entry_writer::discard_file(const io::path& name, io::file& target) noexcept {
    target.data_fork().close(false);
    try {
        chain_.reach(name.parent(), false).remove(target.path().components().back());
    } catch (...) {
        // Nothing more can be done about it: the error that led here is the
        // one to report.
    }
}

void entry_writer::link(const io::path& name, const std::string& target) {
    const io::folder_handle& folder = parent_of(name);
    if (!folder.create_link(name.components().back(), target, true))
        raise_system_error(path_of(name), "cannot create link", "io::link");
}

void entry_writer::finish() {
    for (const written_folder& folder : folders_) {
        try {
            chain_.reach(unpack(folder.name), false).apply_info(info_of(folder.modified, folder.mode));
        } catch (const io::exception&) {
            // Best effort, as every time and mode: a folder gone since is no
            // failure of the extraction.
        }
    }
    folders_.clear();
}

}  // namespace format::zip
