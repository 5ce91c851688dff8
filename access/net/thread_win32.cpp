// Windows side of Thread: _beginthreadex, so the C runtime's per-thread data is set up
// and released, with the stack size taken as a reservation rather than a commit. Also
// the Mutex and CondVar of sync.h, on the system's SRWLOCK and CONDITION_VARIABLE.
#include <process.h>
#include <windows.h>

#include <memory>
#include <utility>

#include "sync.h"
#include "thread.h"
#include "thread_body.h"

namespace zorvik::net {
namespace {

unsigned __stdcall run(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    run_thread_body(*body);
    return 0;
}

HANDLE to_native(std::uintptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

void report_escape_by_default(const std::string& line) noexcept {
    OutputDebugStringA(line.c_str());
}

Thread::~Thread() { join(); }

Thread::Thread(Thread&& other) noexcept
    : handle_(std::exchange(other.handle_, 0)), id_(std::exchange(other.id_, 0)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        join();
        handle_ = std::exchange(other.handle_, 0);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

bool Thread::start(std::function<void()> body, std::size_t stack_size) {
    join();
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    unsigned id = 0;
    const std::uintptr_t h = _beginthreadex(nullptr, static_cast<unsigned>(stack_size), run,
                                            owned.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
    if (h == 0) {
        return false;
    }
    owned.release();  // run() owns it now
    handle_ = h;
    id_ = id;
    return true;
}

bool Thread::is_current() const { return handle_ != 0 && GetCurrentThreadId() == id_; }

void Thread::join() {
    if (handle_ == 0) {
        return;
    }
    if (is_current()) {
        detach();
        return;
    }
    WaitForSingleObject(to_native(handle_), INFINITE);
    CloseHandle(to_native(std::exchange(handle_, 0)));
    id_ = 0;
}

void Thread::detach() {
    if (handle_ != 0) {
        CloseHandle(to_native(std::exchange(handle_, 0)));
        id_ = 0;
    }
}

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

void Mutex::lock() noexcept { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&native_)); }

bool Mutex::try_lock() noexcept {
    return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&native_)) != 0;
}

void Mutex::unlock() noexcept { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&native_)); }

void CondVar::notify_one() noexcept {
    WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&native_));
}

void CondVar::notify_all() noexcept {
    WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&native_));
}

bool CondVar::wait_ms(std::unique_lock<Mutex>& lock, std::uint32_t ms) {
    return SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&native_),
                                     reinterpret_cast<PSRWLOCK>(&lock.mutex()->native_),
                                     ms == kInfinite ? INFINITE : ms, 0) != 0;
}

}  // namespace zorvik::net
