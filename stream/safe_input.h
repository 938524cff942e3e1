// Delivers exactly what is asked or raises "unexpected end of file", so that
// format readers never check counts. A source's short reads are continued
// until the count is met or the source ends; the bytes delivered before the
// end stay consumed.
#pragma once

#include "stream/filter_input.h"

namespace stream {

class safe_input : public forward_input {
public:
    explicit safe_input(input& source) : forward_input(&source) {}

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_skip(size_type count) override;

private:
    [[noreturn]] static void raise_end();
};

}  // namespace stream
