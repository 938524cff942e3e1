// A seekable input over an open fork. The fork is borrowed: opening and
// closing it is its owner's business, and destroying this input leaves it
// open. Failures are the fork's io::exception, passed on unchanged.
#pragma once

#include "io/fork.h"
#include "stream/random/input.h"

namespace stream {

class fork_input : public random::input {
public:
    explicit fork_input(io::fork& fork) : fork_(&fork) {}

    // The size of the whole file.
    size_type size() override;
    void seek(size_type position) override;
    // Leaves the fork open.
    void close() override {}

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_position() override;

private:
    io::fork* fork_;
};

}  // namespace stream
