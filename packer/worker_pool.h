// A few threads that run tasks in the order they were given (the first
// given is the first started), each telling the task which of the workers
// runs it, so that a task may use state of that worker's own.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon::pack {

class worker_pool {
public:
    using task = std::function<void(unsigned worker)>;

    explicit worker_pool(unsigned workers);
    // Drops the tasks not started yet and waits for the running ones.
    ~worker_pool();
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    // A task must not throw: it hands its failure on with its result.
    void submit(task work);
    unsigned size() const { return static_cast<unsigned>(threads_.size()); }

private:
    void run(unsigned worker);
    void stop();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<task> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace quillon::pack
