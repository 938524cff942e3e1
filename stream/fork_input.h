// A seekable input over an open fork. The fork is borrowed: opening and
// closing it is its owner's business, and destroying this input leaves it
// open. Failures are the fork's io::exception, passed on unchanged.
//
// The input keeps a position of its own, starting where the fork stands,
// and reads at it without moving the fork's: several inputs, on several
// threads, may read one fork at once. Whoever wants the fork somewhere
// afterwards seeks it there.
#pragma once

#include <vector>

#include "io/fork.h"
#include "stream/random/input.h"

namespace stream {

class fork_input : public random::input {
public:
    explicit fork_input(io::fork& fork) : fork_(&fork), position_(fork.position()) {}
    // Starting at `position`, without asking the fork where it stands (a
    // question that would race with other threads' inputs).
    fork_input(io::fork& fork, size_type position) : fork_(&fork), position_(position) {}

    // The size of the whole file, asked of the system once: the archive
    // does not change while it is read.
    size_type size() override;
    void seek(size_type position) override { position_ = position; }
    // Leaves the fork open.
    void close() override {}
    // Reads shorter than `bytes` fetch that many at once and serve the
    // following reads from memory: an archive of many small entries costs
    // one system call per block, not two per entry (its header, its data).
    // Only for a fork nobody writes while it is read.
    void read_ahead(std::uint32_t bytes) { ahead_.resize(bytes); }

protected:
    std::uint32_t do_read(void* buffer, std::uint32_t length) override;
    int do_get() override;
    size_type do_position() override { return position_; }

private:
    // Copies what the block read ahead holds at the position.
    std::uint32_t from_block(std::uint8_t* buffer, std::uint32_t length);

    io::fork* fork_;
    size_type position_;
    size_type size_ = unknown_size;
    std::vector<std::uint8_t> ahead_;  // empty: no reading ahead
    size_type block_start_ = 0;
    std::uint32_t block_length_ = 0;
    static constexpr size_type unknown_size = ~size_type{0};
};

}  // namespace stream
