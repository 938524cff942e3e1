// A seekable input. Push-back and skipping move the position instead of
// buffering bytes, since the source still holds them.
#pragma once

#include "stream/input.h"

namespace stream::random {

class input : public virtual stream::input {
public:
    virtual void seek(size_type position) = 0;

    void unread(const void* bytes, std::uint32_t length) override;
    void unget(int byte) override;
    // Never moves beyond `size()`.
    size_type skip(size_type count) override;
};

}  // namespace stream::random
