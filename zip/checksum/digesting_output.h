// Passes its bytes on to the target and feeds the same bytes, without a
// copy, to a digest (the item reader's CRC-32). Text writes and `copy_from`
// are forwarded without being digested.
#pragma once

#include "stream/filter_output.h"
#include "zip/checksum/digest.h"

namespace stream {

class digesting_output : public filter_output {
public:
    digesting_output(output& target, algorithm::digest& digest) : filter_output(target), digest_(&digest) {}

    void reset() override { digest_->reset(); }
    void finish() override { digest_->finish(); }

    using filter_output::write;
    void write(const void* bytes, std::uint32_t length) override {
        target().write(bytes, length);
        if (length > 0 && bytes != nullptr) digest_->update(bytes, length);
    }
    void put(int byte) override {
        target().put(byte);
        digest_->update(byte);
    }
    // Through our own `put`, so that every byte reaches the digest.
    void fill(size_type count, int byte) override {
        for (size_type i = 0; i < count; ++i) put(byte);
    }

private:
    algorithm::digest* digest_;
};

}  // namespace stream
