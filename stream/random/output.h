// A seekable output.
#pragma once

#include "stream/output.h"

namespace stream::random {

class output : public virtual stream::output {
public:
    virtual void seek(size_type position) = 0;
};

}  // namespace stream::random
