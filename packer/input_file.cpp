#include "packer/input_file.h"

#include <algorithm>

#include "errors/exception.h"
#include "packer/output_file.h"

namespace quillon::pack {

input_file::input_file(const std::string& path, kind what) : path_(path), file_(io::path(any::string(path))) {
    io::fork& data = file_.data_fork();
    try {
        if (what == kind::stream)
            data.open();
        else
            data.open_as_found(what == kind::packed_through_link);
    } catch (const io::exception& e) {
        if (what == kind::packed && file_.is_link()) changed();  // a link now stands where the file stood
        throw system_failure("cannot open", path_, e);
    }
    if (what != kind::stream && !data.is_regular_file()) changed();
}

void input_file::changed() const { throw failure{"file changed while packing: \"" + path_ + "\""}; }

void input_file::read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(length - done, 1 << 30));
        std::uint32_t n = 0;
        try {
            n = file_.data_fork().read_at(at + done, bytes + done, piece);
        } catch (const io::exception& e) {
            throw system_failure("cannot read", path_, e);
        }
        if (n == 0) changed();
        done += n;
    }
}

void input_file::check_ends_at(std::uint64_t size) {
    io::fork& data = file_.data_fork();
    std::uint8_t more;
    try {
        if (!data.is_regular_file() || data.size() != size || data.read_at(size, &more, 1) > 0) changed();
    } catch (const io::exception& e) {
        throw system_failure("cannot read", path_, e);
    }
}

std::size_t input_file::read_some(std::uint8_t* bytes, std::size_t length) {
    try {
        return file_.data_fork().read(bytes, static_cast<std::uint32_t>(std::min<std::size_t>(length, 1 << 30)));
    } catch (const io::exception& e) {
        throw system_failure("cannot read", path_, e);
    }
}

}  // namespace quillon::pack
