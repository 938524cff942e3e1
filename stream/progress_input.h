// Counts the bytes that pass and reports the absolute position to a
// `format::progress_sink` at least every `interval` bytes (at most once per
// read call) and once more at `finish`.
#pragma once

#include <cstdint>

#include "stream/filter_input.h"

namespace format {

// Whoever wants to hear about progress (the archive does).
class progress_sink {
public:
    virtual ~progress_sink() = default;
    virtual void progress(std::uint64_t /*position*/) {}
};

}  // namespace format

namespace stream {

class progress_input : public filter_input {
public:
    // A null `callback` counts but reports nothing.
    progress_input(input& source, format::progress_sink* callback, size_type start, std::uint32_t interval)
        : filter_input(&source), callback_(callback), total_(start), interval_(interval) {}

    // Reports the final position once; later calls report nothing.
    void finish() override;

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    // Skipped bytes are counted but not reported.
    size_type do_skip(size_type count) override;
    size_type do_position() override { return total_; }

private:
    void count(size_type passed);
    void report() {
        if (callback_) callback_->progress(total_);
    }

    format::progress_sink* callback_;
    bool reported_ = false;
    size_type total_;
    std::uint32_t interval_;
    size_type counter_ = 0;  // bytes since the last report
};

}  // namespace stream
