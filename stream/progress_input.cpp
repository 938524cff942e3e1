#include "stream/progress_input.h"

namespace stream {

void progress_input::count(size_type passed) {
    counter_ += passed;
    total_ += passed;
    if (counter_ >= interval_) {
        report();
        counter_ = 0;
    }
}

std::uint32_t progress_input::do_read(void* buffer, std::uint32_t length) {
    std::uint32_t got = source()->read(buffer, length);
    if (got > 0) count(got);
    return got;
}

int progress_input::do_get() {
    int byte = source()->get();
    if (byte >= 0) count(1);
    return byte;
}

size_type progress_input::do_skip(size_type count) {
    size_type skipped = source()->skip(count);
    total_ += skipped;
    counter_ += skipped;
    return skipped;
}

void progress_input::finish() {
    if (reported_) return;
    reported_ = true;
    report();
}

}  // namespace stream
