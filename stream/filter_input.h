// Base of every input that reads from another input, its source (borrowed,
// never owned). Pushed-back bytes stay in the filter's own unread buffer.
#pragma once

#include "stream/input.h"

namespace stream {

class filter_input : public virtual input {
public:
    explicit filter_input(input* source = nullptr) : source_(source) {}

    void set_source(input* source) { source_ = source; }
    input* source() const { return source_; }

    size_type size() override { return source_->size(); }
    void close() override { source_->close(); }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override { return source_->read(buffer, length); }
    int do_get() override { return source_->get(); }
    size_type do_skip(size_type count) override { return source_->skip(count); }
    size_type do_position() override { return source_->position(); }

private:
    input* source_;
};

// A filter that keeps no bytes of its own: push-back goes to the source too.
class forward_input : public filter_input {
public:
    using filter_input::filter_input;

    void unread(const void* bytes, std::uint32_t length) override { source()->unread(bytes, length); }
    void unget(int byte) override { source()->unget(byte); }
};

}  // namespace stream
