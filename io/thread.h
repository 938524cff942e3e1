// Threads of the process, and the lock and wake-up they share: one
// implementation per system (io/posix/thread.cpp with POSIX threads,
// io/win32/thread.cpp with the system's own threads, slim locks and
// condition variables, so that the Windows stub imports nothing new).
//
// Small on purpose: an extraction starts a few workers, hands them work
// under one lock and waits for them; nothing here is meant for more.
#pragma once

#include <cstdint>
#include <memory>

namespace io {

class mutex {
public:
    mutex();
    ~mutex();
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    void lock();
    void unlock();

private:
    friend class condition;
    struct state;
    std::unique_ptr<state> state_;
};

// Holds a mutex for the scope it lives in.
class lock_guard {
public:
    explicit lock_guard(mutex& held) : held_(&held) { held_->lock(); }
    ~lock_guard() { held_->unlock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    mutex* held_;
};

// Waits for a change made under a mutex. Wake-ups may come without a
// change: a waiter checks its condition again in a loop.
class condition {
public:
    condition();
    ~condition();
    condition(const condition&) = delete;
    condition& operator=(const condition&) = delete;

    // `held` is locked by the caller; it is let go while waiting and held
    // again on return.
    void wait(mutex& held);
    // The same, for at most `milliseconds`.
    void wait_for(mutex& held, std::uint32_t milliseconds);
    void notify_one();
    void notify_all();

private:
    struct state;
    std::unique_ptr<state> state_;
};

// A thread running `work(context)`, joined by `join` or by the
// destructor. The work must not throw: whatever it raises is its own to
// catch and hand over. On POSIX the thread blocks the signals the program
// handles (Ctrl+C), so that they reach the thread that answers them.
class thread {
public:
    using function = void (*)(void* context);

    // Throws io::exception "cannot start a thread" when the system refuses.
    thread(function work, void* context);
    ~thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;

    void join();

    // The processors this process may run on (at least 1).
    static unsigned processors();

private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace io
