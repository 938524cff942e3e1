// File entries written on worker threads while the extraction's own thread
// goes on through the archive: it asks the user's questions in archive
// order and hands each file entry over (`add`); the workers take them in
// batches, each decoding, checking and writing an entry through its own
// input on the archive and its own open folders. Small entries are taken
// many at a time, so that handing over costs little per file; a large one
// keeps one worker while the others go on.
//
// The outcome is the one a single thread would give:
// - names: an entry whose name meets one that is still being written (the
//   same file, or a folder on its way) waits until every entry handed over
//   is done (`claim`), so that its question sees what came before;
// - errors: the first failure in archive order is the one raised by
//   `finish`. Entries before it are still written, entries after it are
//   abandoned (a file being written is removed), and nothing new starts;
// - a cancel while the caller waits (its `tick` throws) stops every worker
//   within one step of data and removes every file not finished (`abandon`);
//   one at a question is a failure of that entry (`fail`), so that the
//   entries before it are written, as one thread would have.
// Memory is bounded: the queue holds at most `queue_limit` entries, and a
// worker holds one entry's decoder.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "extract/file_entry.h"
#include "io/directory.h"
#include "io/fork.h"
#include "io/thread.h"

namespace format::zip {

class file_workers {
public:
    static constexpr std::size_t queue_limit = 1024;
    // A batch ends after this many entries or bytes of stored data.
    static constexpr std::size_t batch_entries = 32;
    static constexpr std::uint64_t batch_bytes = 1 << 20;
    // Names remembered between two waits for every entry: past it, the
    // extraction waits once and forgets them.
    static constexpr std::size_t claims_limit = 4096;

    // `threads` workers (at least 1) writing below `destination` and
    // reading the archive from `archive`; both, and `passphrase`, are
    // borrowed. `tick` is called on the caller's thread about every 50 ms
    // while it waits, with the stored bytes read so far, and may throw (a
    // cancel). Fewer workers start when the system refuses more;
    // io::exception when it refuses the first.
    file_workers(unsigned threads, const io::directory& destination, io::fork& archive, const std::string& passphrase,
                 std::function<void(std::uint64_t consumed)> tick);
    // Abandons what is left and waits for the workers.
    ~file_workers();
    file_workers(const file_workers&) = delete;
    file_workers& operator=(const file_workers&) = delete;

    // Before `name` (below the destination) is asked about or made: waits
    // for every entry handed over when one of them could touch it.
    void claim(const io::path& name, bool is_folder);
    // Waits for every entry handed over.
    void drain();
    // Hands an entry over; waits while the queue is full.
    void add(file_entry entry);
    // Whether a failure is known: nothing more should be handed over.
    bool failed() const { return first_failure_.load(std::memory_order_acquire) != no_failure; }
    // A failure of the caller's own at entry `index` (a folder or a link it
    // made): ordered with the workers' like theirs. The current exception.
    void fail(std::uint64_t index);
    // Waits for every entry before the first failure, abandons the rest,
    // stops the workers, and raises that failure if there is one.
    void finish();
    // A cancel: every entry not finished is abandoned, its file removed;
    // waits for the workers.
    void abandon();

    // Stored bytes read by the workers so far.
    std::uint64_t consumed() const { return consumed_.load(std::memory_order_relaxed); }

private:
    static constexpr std::uint64_t no_failure = ~std::uint64_t{0};
    class reporter;

    static void run(void* self);
    void work();
    // A batch from the queue's front; empty when the workers are to end.
    std::vector<file_entry> take();
    bool batch_ready() const;
    void write(const file_entry& entry, stream::random::input& archive, class entry_writer& writer);
    void record(std::uint64_t index, std::exception_ptr failure);
    bool abandoned(std::uint64_t index) const {
        return abandoning_.load(std::memory_order_acquire) || index > first_failure_.load(std::memory_order_acquire);
    }
    // Waits (under the lock) until `done` holds, ticking.
    template <typename predicate>
    void wait_until(predicate done);
    void stop_workers();
    void forget_claims();

    const io::directory* destination_;
    io::fork* archive_;
    const std::string* passphrase_;
    std::function<void(std::uint64_t)> tick_;

    io::mutex lock_;
    io::condition ready_;  // for the workers: a batch is queued, or the end
    io::condition done_;   // for the caller: entries done, room, a failure
    std::deque<file_entry> queue_;
    std::uint64_t queued_bytes_ = 0;  // stored bytes of the queued entries
    std::size_t in_flight_ = 0;       // entries taken and not yet done
    bool waiting_ = false;            // the caller waits for the workers
    bool ending_ = false;
    std::exception_ptr failure_;
    std::atomic<std::uint64_t> first_failure_{no_failure};
    std::atomic<bool> abandoning_{false};
    std::atomic<std::uint64_t> consumed_{0};

    std::unordered_set<std::u16string> files_, folders_;
    std::vector<std::unique_ptr<io::thread>> threads_;
};

}  // namespace format::zip
