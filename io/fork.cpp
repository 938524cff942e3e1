#include "io/fork.h"

#include "errors/exception.h"
#include "io/folder_handle.h"
#include "io/item.h"
#include "io/system.h"
#include "io/system_error.h"

namespace io {
namespace {

const char* const where = "io::fork";

}  // namespace

fork::~fork() { release(); }

void fork::release() {
    // The process's standard handles are not ours to close in passing.
    if (is_open() && !standard_) system::close(handle_);
    forget_handle();
}

void fork::forget_handle() {
    handle_ = invalid_handle;
    standard_ = false;
    forget_position();
    read_elsewhere_.store(false, std::memory_order_relaxed);
}

void fork::restore_position() {
    if (!read_elsewhere_.exchange(false, std::memory_order_relaxed) || !position_known_) return;
    if (!system::seek(handle_, position_)) {
        forget_position();
        raise_system_error(name(), "cannot set the position of", where);
    }
}

void fork::take(handle_type handle) {
    handle_ = handle;
    if (is_open()) know_position(0);  // a file just opened stands at its start
}

fork::handle_type fork::open_mode(int mode) {
    // Only this class chooses modes: another is a fault of the program, not
    // of the system, and has no system error to report.
    if (mode < system::read_existing || mode > system::create_truncate)
        throw un::logic_error("unknown open mode", "io::fork");
    return system::open(name(), mode);
}

void fork::open() {
    release();
    take(open_mode(system::read_existing));
    if (!is_open()) raise_system_error(name(), "cannot open", where);
}

void fork::open_as_found(bool follow_link) {
    release();
    take(system::open_as_found(name(), follow_link));
    if (!is_open()) raise_system_error(name(), "cannot open", where);
}

void fork::open_rw() {
    release();
    take(open_mode(system::read_write));
    if (!is_open()) raise_system_error(name(), "cannot open_rw", where);
}

void fork::create(bool replace) {
    release();
    int mode = replace ? system::create_truncate : system::create_new;
    take(open_mode(mode));
    if (is_open()) return;
    // The system may refuse a character of the name: repair the last
    // component and try once more under the repaired (and free) name.
    io::path asked = owner().path();
    if (owner().replace_illegal_characters()) owner().resolve_name_conflict(999);
    take(open_mode(mode));
    if (is_open()) return;
    std::int32_t code = system::last_error();
    owner().path() = asked;
    system::set_last_error(code);
    raise_system_error(name(), "cannot create", where);
}

void fork::create_in(const io::folder_handle& folder, bool replace) {
    release();
    take(folder.create_file(owner().path().components().back(), replace));
    if (is_open()) return;
    io::path asked = owner().path();
    if (owner().replace_illegal_characters()) owner().resolve_name_conflict(999);
    if (owner().path() != asked) take(folder.create_file(owner().path().components().back(), replace));
    if (is_open()) return;
    std::int32_t code = system::last_error();
    owner().path() = asked;
    system::set_last_error(code);
    raise_system_error(name(), "cannot create", where);
}

void fork::apply_info(const io::item_info& info) {
    if (is_open()) system::apply_info(handle_, info);
}

void fork::open_standard(int which, const char* operation) {
    release();
    handle_type handle = system::standard_handle(which);
    if (handle == invalid_handle) {
        raise_system_error(name(), operation, where);
        return;
    }
    handle_ = handle;
    standard_ = true;
}

void fork::open_stdin() { open_standard(0, "cannot open stdin"); }

void fork::open_stdout() { open_standard(1, "cannot open stdout"); }

void fork::open_stderr() { open_standard(2, "cannot open stderr"); }

void fork::close(bool report) {
    if (!is_open()) return;
    bool closed = system::close(handle_);
    forget_handle();
    if (!closed && report) raise_system_error(name(), "cannot close", where);
}

bool fork::is_character_device() { return system::is_character_device(handle_); }

bool fork::is_regular_file() { return system::is_regular_file(handle_); }

std::uint32_t fork::read(void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    restore_position();
    std::uint32_t done = 0;
    if (!system::read(handle_, buffer, count, done)) {
        forget_position();
        raise_system_error(name(), "cannot read from", where);
    }
    position_ += done;
    return done;
}

std::uint32_t fork::read_at(std::uint64_t position, void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    std::uint32_t done = 0;
    read_elsewhere_.store(true, std::memory_order_relaxed);
    if (!system::read_at(handle_, position, buffer, count, done)) raise_system_error(name(), "cannot read from", where);
    return done;
}

void fork::write(const void* buffer, std::uint32_t count) {
    if (count == 0) return;
    restore_position();
    if (!system::write(handle_, buffer, count)) {
        forget_position();  // part of it may have been written
        raise_system_error(name(), "cannot write to", where);
        return;
    }
    position_ += count;
}

std::uint64_t fork::size() {
    if (!is_open()) {
        // Asked of a closed fork: open it for the question only.
        try {
            open();
            std::uint64_t answer = size();
            close(false);
            return answer;
        } catch (const un::exception&) {
            close(false);
            return 0;
        }
    }
    std::uint64_t answer = 0;
    if (!system::size(handle_, answer)) raise_system_error(name(), "cannot determine the size of", where);
    return answer;
}

std::uint64_t fork::position() {
    if (!is_open()) return ~std::uint64_t{0};
    if (position_known_) return position_;
    std::uint64_t answer = 0;
    if (!system::position(handle_, answer)) raise_system_error(name(), "cannot get position of", where);
    know_position(answer);
    return answer;
}

void fork::seek(std::uint64_t position) {
    if (!is_open()) return;
    restore_position();
    if (position_known_ && position == position_) return;
    if (!system::seek(handle_, position)) {
        forget_position();
        raise_system_error(name(), "cannot set the position of", where);
        return;
    }
    know_position(position);
}

void fork::resize(std::uint64_t size) {
    if (!is_open()) return;
    std::uint64_t here = position();
    seek(size);
    bool resized = system::end_file_here(handle_);
    std::int32_t code = system::last_error();
    seek(here);
    if (resized) return;
    system::set_last_error(code);
    raise_system_error(name(), "cannot resize", where);
}

void fork::flush(bool report) {
    if (!is_open()) return;
    if (!system::flush(handle_) && report) raise_system_error(name(), "cannot flush", where);
}

void fork::remove(bool report) {
    close(false);
    if (!system::remove_file(name()) && report) raise_system_error(name(), "cannot delete", where);
}

void fork::rename_over(const io::path& target) {
    close(false);
    if (!system::rename_replacing(name(), target)) raise_system_error(name(), "cannot rename", where);
}

bool fork::exists() const { return system::exists(name()); }

}  // namespace io
