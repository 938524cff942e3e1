// The system's own threads, slim reader/writer locks and condition
// variables behind io/thread.h: kernel32 only, nothing new imported.
#include <windows.h>

#include "errors/exception.h"
#include "io/thread.h"

namespace io {

struct mutex::state {
    SRWLOCK native = SRWLOCK_INIT;
};

mutex::mutex() : state_(new state) {}
mutex::~mutex() = default;
void mutex::lock() { AcquireSRWLockExclusive(&state_->native); }
void mutex::unlock() { ReleaseSRWLockExclusive(&state_->native); }

struct condition::state {
    CONDITION_VARIABLE native = CONDITION_VARIABLE_INIT;
};

condition::condition() : state_(new state) {}
condition::~condition() = default;

void condition::wait(mutex& held) { SleepConditionVariableSRW(&state_->native, &held.state_->native, INFINITE, 0); }

void condition::wait_for(mutex& held, std::uint32_t milliseconds) {
    SleepConditionVariableSRW(&state_->native, &held.state_->native, milliseconds, 0);
}

void condition::notify_one() { WakeConditionVariable(&state_->native); }
void condition::notify_all() { WakeAllConditionVariable(&state_->native); }

struct thread::state {
    HANDLE native = nullptr;
    function work = nullptr;
    void* context = nullptr;
};

namespace {

// The system's calling convention, which a lambda's does not match on 32
// bits.
template <typename own_state>
DWORD WINAPI start(void* argument) {
    auto* own = static_cast<own_state*>(argument);
    own->work(own->context);
    return 0;
}

}  // namespace

thread::thread(function work, void* context) : state_(new state) {
    state_->work = work;
    state_->context = context;
    state_->native = CreateThread(nullptr, 0, start<state>, state_.get(), 0, nullptr);
    if (state_->native == nullptr)
        throw io::exception("cannot start a thread", "io::thread", static_cast<std::int32_t>(GetLastError()));
}

thread::~thread() { join(); }

void thread::join() {
    if (state_->native == nullptr) return;
    WaitForSingleObject(state_->native, INFINITE);
    CloseHandle(state_->native);
    state_->native = nullptr;
}

unsigned thread::processors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace io
