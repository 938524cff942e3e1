// The source's bytes, decrypted with a cipher's current key state. Skipped
// bytes are decrypted too, so the keys stay in step with the source. Bytes
// pushed back stay here, already decrypted; they never return to the source.
#pragma once

#include "stream/filter_input.h"
#include "zip/cipher.h"

namespace stream {

class decrypting_input : public filter_input {
public:
    // Both are borrowed and must outlive the input.
    decrypting_input(input& source, format::cipher& cipher) : filter_input(&source), cipher_(&cipher) {}

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_skip(size_type count) override;

private:
    format::cipher* cipher_;
};

}  // namespace stream
