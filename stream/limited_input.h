// Delivers at most `limit` bytes of its source (one entry's data inside the
// archive). Positions are those of the source, not relative to the range.
#pragma once

#include "stream/filter_input.h"

namespace stream {

class limited_input : public filter_input {
public:
    limited_input(input& source, size_type limit) : filter_input(&source), limit_(limit) {}

    void unread(const void* bytes, std::uint32_t length) override;
    void unget(int byte) override;
    size_type size() override { return limit_; }

    size_type consumed() const { return consumed_; }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_skip(size_type count) override;

private:
    size_type left() const { return limit_ > consumed_ ? limit_ - consumed_ : 0; }

    size_type limit_;
    size_type consumed_ = 0;  // net of bytes pushed back
};

}  // namespace stream
