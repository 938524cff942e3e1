#include "stream/random/vector_output.h"

#include "errors/exception.h"

namespace stream::random {

void vector_output::resize(size_type size) {
    if (size != vector().size()) vector().resize(size);
}

void vector_output::seek(size_type position) {
    if (position > vector().size())
        throw stream::exception("cannot seek past the end of the vector", "stream::random::vector_output");
    index_ = static_cast<std::uint32_t>(position);
}

}  // namespace stream::random
