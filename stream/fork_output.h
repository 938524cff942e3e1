// A seekable output over an open fork. Every write goes to the system at
// once (nothing is buffered), and `resize` may shrink the file. The fork is
// borrowed and stays open when this output is destroyed.
#pragma once

#include "io/fork.h"
#include "stream/random/output.h"

namespace stream {

class fork_output : public random::output {
public:
    explicit fork_output(io::fork& fork) : fork_(&fork) {}

    void write(const std::string& text) override;
    void write(const void* bytes, std::uint32_t length) override;
    void put(int byte) override;
    size_type position() override;
    size_type size() override;
    // Truncates or extends the file.
    void resize(size_type size) override;
    void seek(size_type position) override;

private:
    io::fork* fork_;
};

}  // namespace stream
