#include "packer/worker_pool.h"

#include <utility>

namespace quillon::pack {

worker_pool::worker_pool(unsigned workers) {
    threads_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i) threads_.emplace_back(&worker_pool::run, this, i);
    } catch (...) {
        stop();
        throw;
    }
}

worker_pool::~worker_pool() { stop(); }

void worker_pool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    ready_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

void worker_pool::submit(task work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(std::move(work));
    }
    ready_.notify_one();
}

void worker_pool::run(unsigned worker) {
    for (;;) {
        task work;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            work = std::move(waiting_.front());
            waiting_.pop_front();
        }
        work(worker);
    }
}

}  // namespace quillon::pack
