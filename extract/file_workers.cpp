#include "extract/file_workers.h"

#include "extract/entry_writer.h"
#include "stream/fork_input.h"

namespace format::zip {

namespace {

// Thrown through an entry's decoding when it is abandoned: not a failure.
struct abandoned_entry {};

// How long the caller's thread waits before it ticks again.
constexpr std::uint32_t tick_milliseconds = 50;
// How long entries short of a batch wait for a worker.
constexpr std::uint32_t leftover_milliseconds = 2;

// The first `count` components of `name`, the way names are compared here:
// letters of either case alike, since a file system may not tell them
// apart; two names that only look alike merely wait for each other.
std::u16string key_of(const io::path& name, std::size_t count) {
    std::u16string key;
    const auto& components = name.components();
    for (std::size_t at = 0; at < count && at < components.size(); ++at) {
        if (at > 0) key += u'/';
        for (char16_t unit : components[at].wide()) key += (unit >= u'A' && unit <= u'Z') ? unit + (u'a' - u'A') : unit;
    }
    return key;
}

}  // namespace

// Counts an entry's stored bytes as the worker reads them, and stops its
// decoding once it is abandoned.
class file_workers::reporter : public format::progress_sink {
public:
    reporter(file_workers& owner, const file_entry& entry)
        : owner_(&owner), index_(entry.index()), last_(entry.data_position()) {}

    void progress(std::uint64_t position) override {
        if (position > last_) owner_->consumed_.fetch_add(position - last_, std::memory_order_relaxed);
        last_ = position;
        if (owner_->abandoned(index_)) throw abandoned_entry();
    }

private:
    file_workers* owner_;
    std::uint64_t index_;
    std::uint64_t last_;
};

file_workers::file_workers(unsigned threads, const io::directory& destination, io::fork& archive,
                           const std::string& passphrase, std::function<void(std::uint64_t)> tick)
    : destination_(&destination), archive_(&archive), passphrase_(&passphrase), tick_(std::move(tick)) {
    if (threads == 0) threads = 1;
    threads_.reserve(threads);
    for (unsigned started = 0; started < threads; ++started) {
        try {
            threads_.push_back(std::make_unique<io::thread>(&file_workers::run, this));
        } catch (const io::exception&) {
            // The system has room for no more (a tight address space):
            // those that started do the work, and with none the caller
            // writes the files itself.
            if (threads_.empty()) throw;
            break;
        } catch (...) {
            stop_workers();
            throw;
        }
    }
}

file_workers::~file_workers() { abandon(); }

void file_workers::run(void* self) { static_cast<file_workers*>(self)->work(); }

void file_workers::work() {
    // Every worker reads the archive at positions of its own and reaches
    // folders through handles of its own: nothing is shared but the queue.
    stream::fork_input input(*archive_, 0);
    input.read_ahead(file_entry::read_ahead);
    entry_writer writer(*destination_);
    for (;;) {
        const std::vector<file_entry> batch = take();
        if (batch.empty()) return;
        for (const file_entry& entry : batch) write(entry, input, writer);
        io::lock_guard hold(lock_);
        in_flight_ -= batch.size();
        if (waiting_) done_.notify_one();
    }
}

bool file_workers::batch_ready() const { return queue_.size() >= batch_entries || queued_bytes_ >= batch_bytes; }

std::vector<file_entry> file_workers::take() {
    std::vector<file_entry> batch;
    io::lock_guard hold(lock_);
    // A worker waits for a whole batch, so that handing over costs one
    // wake-up per batch; what is left is taken when the extraction waits
    // for it, or after a moment (the extraction may be asking a question).
    for (;;) {
        if (batch_ready() || (!queue_.empty() && (ending_ || waiting_))) break;
        if (ending_) return batch;
        if (queue_.empty()) {
            ready_.wait(lock_);
        } else {
            ready_.wait_for(lock_, leftover_milliseconds);
            if (!queue_.empty()) break;
        }
    }
    const bool was_full = queue_.size() >= queue_limit;
    std::uint64_t bytes = 0;
    while (!queue_.empty() && batch.size() < batch_entries && bytes < batch_bytes) {
        bytes += queue_.front().stored_size();
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    queued_bytes_ -= bytes;
    in_flight_ += batch.size();
    if (batch_ready()) ready_.notify_one();  // the next batch, for another worker
    if (was_full) done_.notify_one();        // room in the queue
    return batch;
}

void file_workers::write(const file_entry& entry, stream::random::input& archive, entry_writer& writer) {
    if (abandoned(entry.index())) return;
    reporter report(*this, entry);
    try {
        entry.write(archive, writer, *passphrase_, &report);
    } catch (const abandoned_entry&) {
        // Its file is gone again; whatever ended the run is reported.
    } catch (...) {
        record(entry.index(), std::current_exception());
    }
}

void file_workers::record(std::uint64_t index, std::exception_ptr failure) {
    {
        io::lock_guard hold(lock_);
        if (index < first_failure_.load(std::memory_order_relaxed)) {
            failure_ = std::move(failure);
            first_failure_.store(index, std::memory_order_release);
        }
    }
    done_.notify_one();
}

void file_workers::fail(std::uint64_t index) { record(index, std::current_exception()); }

template <typename predicate>
void file_workers::wait_until(predicate done) {
    for (;;) {
        {
            io::lock_guard hold(lock_);
            if (done()) return;
            // Workers take what is queued at once while this thread waits.
            if (!waiting_) {
                waiting_ = true;
                ready_.notify_all();
            }
            done_.wait_for(lock_, tick_milliseconds);
            const bool finished = done();
            waiting_ = false;
            if (finished) return;
        }
        try {
            tick_(consumed());
        } catch (...) {
            // A cancel while the files are being written stops every worker
            // now, not after what is in flight.
            abandon();
            throw;
        }
    }
}

void file_workers::claim(const io::path& name, bool is_folder) {
    const std::size_t depth = name.components().size();
    bool meets = files_.count(key_of(name, depth)) != 0 || (!is_folder && folders_.count(key_of(name, depth)) != 0);
    for (std::size_t above = 1; above < depth && !meets; ++above) meets = files_.count(key_of(name, above)) != 0;
    if (meets || files_.size() >= claims_limit) drain();
    if (is_folder) return;
    files_.insert(key_of(name, depth));
    for (std::size_t above = 1; above < depth; ++above) folders_.insert(key_of(name, above));
}

void file_workers::drain() {
    wait_until([&] { return queue_.empty() && in_flight_ == 0; });
    forget_claims();
}

void file_workers::forget_claims() {
    files_.clear();
    folders_.clear();
}

void file_workers::add(file_entry entry) {
    wait_until([&] { return queue_.size() < queue_limit; });
    io::lock_guard hold(lock_);
    queued_bytes_ += entry.stored_size();
    queue_.push_back(std::move(entry));
    if (batch_ready()) ready_.notify_one();
}

void file_workers::finish() {
    // Entries after a known failure are abandoned by the workers as they
    // come to them; the ones before it are written.
    wait_until([&] { return queue_.empty() && in_flight_ == 0; });
    stop_workers();
    forget_claims();
    if (failure_) std::rethrow_exception(failure_);
}

void file_workers::abandon() {
    abandoning_.store(true, std::memory_order_release);
    {
        io::lock_guard hold(lock_);
        queue_.clear();
        queued_bytes_ = 0;
        waiting_ = true;
        while (in_flight_ != 0) done_.wait(lock_);
        waiting_ = false;
    }
    stop_workers();
}

void file_workers::stop_workers() {
    {
        io::lock_guard hold(lock_);
        ending_ = true;
    }
    ready_.notify_all();
    for (auto& worker : threads_) worker->join();
    threads_.clear();
}

}  // namespace format::zip
