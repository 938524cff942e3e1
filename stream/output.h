// The output half of the stream library: every byte the system writes
// passes through a `stream::output`.
//
// Contract: an output is written with any mix of `write`, `put`, `fill` and
// `copy_from`, then flushed (directly, or by the destructor of an output
// that buffers). Outputs never own the inputs they copy from.
#pragma once

#include <cstdint>
#include <string>

#include "stream/input.h"

namespace stream {

class output {
public:
    output() = default;
    output(const output&) = delete;
    output& operator=(const output&) = delete;
    virtual ~output() = default;

    virtual void reset() {}
    virtual void finish() {}

    virtual void write(const std::string& text);
    // A null `bytes` writes nothing.
    virtual void write(const void* bytes, std::uint32_t length);
    virtual void put(int byte) = 0;
    virtual void fill(size_type count, int byte);
    // Copies `source` to its end.
    virtual void copy_from(input& source);
    // Bytes written so far.
    virtual size_type position() = 0;
    virtual size_type size() { return position(); }
    // Extends the output with zero bytes; never shrinks it.
    virtual void resize(size_type size);
    virtual void flush() {}
};

}  // namespace stream
