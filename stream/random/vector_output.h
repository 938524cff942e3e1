// The seekable byte-vector output; unlike its plain base it does shrink.
#pragma once

#include "stream/random/output.h"
#include "stream/vector_output.h"

namespace stream::random {

class vector_output : public stream::vector_output, public stream::random::output {
public:
    using stream::vector_output::vector_output;

    size_type size() override { return vector().size(); }
    void resize(size_type size) override;
    // Seeking to exactly the length is allowed: the next write appends.
    void seek(size_type position) override;
};

}  // namespace stream::random
