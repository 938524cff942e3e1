// POSIX threads behind io/thread.h.
#include "io/thread.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "errors/exception.h"

namespace io {

struct mutex::state {
    pthread_mutex_t native = PTHREAD_MUTEX_INITIALIZER;
};

mutex::mutex() : state_(new state) {}
mutex::~mutex() { pthread_mutex_destroy(&state_->native); }
void mutex::lock() { pthread_mutex_lock(&state_->native); }
void mutex::unlock() { pthread_mutex_unlock(&state_->native); }

struct condition::state {
    pthread_cond_t native;
};

condition::condition() : state_(new state) {
    // Timed waits count on the monotonic clock: a change of the wall clock
    // must not make a wait last for ever.
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&state_->native, &attributes);
    pthread_condattr_destroy(&attributes);
}

condition::~condition() { pthread_cond_destroy(&state_->native); }

void condition::wait(mutex& held) { pthread_cond_wait(&state_->native, &held.state_->native); }

void condition::wait_for(mutex& held, std::uint32_t milliseconds) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_nsec -= 1000000000L;
        ++until.tv_sec;
    }
    pthread_cond_timedwait(&state_->native, &held.state_->native, &until);
}

void condition::notify_one() { pthread_cond_signal(&state_->native); }
void condition::notify_all() { pthread_cond_broadcast(&state_->native); }

struct thread::state {
    pthread_t native{};
    bool running = false;
    function work = nullptr;
    void* context = nullptr;
};

thread::thread(function work, void* context) : state_(new state) {
    state_->work = work;
    state_->context = context;
    // The new thread inherits the signal mask: everything is blocked while
    // it starts, and the caller's own mask put back afterwards.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int failed = pthread_create(
        &state_->native, nullptr,
        [](void* argument) -> void* {
            auto* own = static_cast<state*>(argument);
            own->work(own->context);
            return nullptr;
        },
        state_.get());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed != 0) throw io::exception("cannot start a thread", "io::thread", failed);
    state_->running = true;
}

thread::~thread() { join(); }

void thread::join() {
    if (!state_->running) return;
    pthread_join(state_->native, nullptr);
    state_->running = false;
}

unsigned thread::processors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        const int count = CPU_COUNT(&allowed);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace io
