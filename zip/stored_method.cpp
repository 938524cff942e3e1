// Method 0: the bytes as they are.
#include "stream/transform.h"
#include "zip/method.h"

namespace format::zip {

namespace {

class stored_decoder : public entry_decoder {
public:
    explicit stored_decoder(const decoding& given) : given_(given) {}

    void decode(stream::output& target) override {
        // A small entry gets a buffer of its own size, not a large one that
        // would be allocated and touched for every file.
        const stream::size_type size = given_.stored_size;
        const auto buffer = static_cast<std::uint32_t>(size < copy_buffer_size ? size : copy_buffer_size);
        stream::copy_transform copy(buffer == 0 ? 1 : buffer);
        copy.process(given_.source, target, size);
    }

private:
    // Stored data moves in pieces of this size: few system calls per byte,
    // as the inflate window writes.
    static constexpr std::uint32_t copy_buffer_size = 262144;

    decoding given_;
};

}  // namespace

std::unique_ptr<entry_decoder> open_stored(const decoding& given) { return std::make_unique<stored_decoder>(given); }

}  // namespace format::zip
