// The lock and condition variable the library's threads wait on.
//
// POSIX: std::mutex and std::condition_variable. Windows: the system's slim
// reader/writer lock and condition variable. The MinGW C++ runtime builds
// std::condition_variable on winpthreads' semaphores, so under Wine every wait and every
// wake is a round trip to the wineserver (175 us per hand-over between two threads, 55 us
// of them in the wineserver, against 23 us and none for the system's own, which wait on
// futexes): with a thousand links that cost most of the library's idle time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zorvik::net {

#ifndef _WIN32

using Mutex = std::mutex;
using CondVar = std::condition_variable;

#else

// An SRWLOCK, taken exclusively. Lockable, for std::lock_guard and std::unique_lock.
class Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;

  private:
    friend class CondVar;
    void* native_ = nullptr;  // SRWLOCK_INIT is all zero
};

// A CONDITION_VARIABLE over Mutex, with the members of std::condition_variable the
// library uses. Waits may wake spuriously, as the standard's may.
class CondVar {
  public:
    CondVar() = default;
    CondVar(const CondVar&) = delete;
    CondVar& operator=(const CondVar&) = delete;

    void notify_one() noexcept;
    void notify_all() noexcept;

    void wait(std::unique_lock<Mutex>& lock) { (void)wait_ms(lock, kInfinite); }
    template <class Predicate>
    void wait(std::unique_lock<Mutex>& lock, Predicate ready) {
        while (!ready()) {
            wait(lock);
        }
    }

    template <class Clock, class Duration>
    std::cv_status wait_until(std::unique_lock<Mutex>& lock,
                              const std::chrono::time_point<Clock, Duration>& deadline) {
        if (deadline == std::chrono::time_point<Clock, Duration>::max()) {
            wait(lock);
            return std::cv_status::no_timeout;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::cv_status::timeout;
        }
        (void)wait_ms(lock, to_ms(left));
        return Clock::now() < deadline ? std::cv_status::no_timeout : std::cv_status::timeout;
    }
    template <class Clock, class Duration, class Predicate>
    bool wait_until(std::unique_lock<Mutex>& lock,
                    const std::chrono::time_point<Clock, Duration>& deadline, Predicate ready) {
        while (!ready()) {
            if (wait_until(lock, deadline) == std::cv_status::timeout) {
                return ready();
            }
        }
        return true;
    }
    template <class Rep, class Period>
    std::cv_status wait_for(std::unique_lock<Mutex>& lock,
                            const std::chrono::duration<Rep, Period>& timeout) {
        return wait_until(lock, std::chrono::steady_clock::now() + timeout);
    }
    template <class Rep, class Period, class Predicate>
    bool wait_for(std::unique_lock<Mutex>& lock, const std::chrono::duration<Rep, Period>& timeout,
                  Predicate ready) {
        return wait_until(lock, std::chrono::steady_clock::now() + timeout, std::move(ready));
    }

  private:
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
    static std::uint32_t to_ms(std::chrono::milliseconds ms) {
        return ms.count() >= kInfinite ? kInfinite - 1 : static_cast<std::uint32_t>(ms.count());
    }
    // False on time-out.
    bool wait_ms(std::unique_lock<Mutex>& lock, std::uint32_t ms);

    void* native_ = nullptr;  // CONDITION_VARIABLE_INIT is all zero
};

#endif

}  // namespace zorvik::net
