// Base of outputs that pass their bytes on to another output, the target
// (borrowed, never owned). Flushing the target is its owner's business.
#pragma once

#include "stream/output.h"

namespace stream {

class filter_output : public output {
public:
    explicit filter_output(output& target) : target_(&target) {}

    // Redirects the output; what was already passed on stays where it went.
    void set_target(output& target) { target_ = &target; }

    using output::write;
    void write(const std::string& text) override { target_->write(text); }
    void write(const void* bytes, std::uint32_t length) override { target_->write(bytes, length); }
    void put(int byte) override { target_->put(byte); }
    void fill(size_type count, int byte) override { target_->fill(count, byte); }
    void copy_from(input& source) override { target_->copy_from(source); }
    size_type position() override { return target_->position(); }
    size_type size() override { return position(); }
    void resize(size_type size) override { target_->resize(size); }

protected:
    output& target() { return *target_; }

private:
    output* target_;
};

}  // namespace stream
