// A thread with a chosen stack reservation.
//
// std::thread cannot choose its stack, so this class starts threads through the
// platform (_beginthreadex with a reservation, pthread_create with a stack size). The
// access library starts its threads with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zorvik::net {

class Thread {
  public:
    // 64 KiB: room for the frames of a library thread that runs no host code.
    static constexpr std::size_t kSmallStack = 64 * 1024;

    Thread() = default;
    // Joins (or, on the thread itself, detaches) a thread still running.
    ~Thread();
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread. False when the system refused (no memory, no address
    // space); the object then stays empty. An exception leaving body ends that thread, not
    // the process: it is counted and its text handed to the escape reporter.
    bool start(std::function<void()> body, std::size_t stack_size = kSmallStack);

    // Receives the text of an exception that left a thread body (any thread, noexcept).
    using EscapeReporter = void (*)(const char* what) noexcept;
    // Replaces the reporter (nullptr restores the default: one line on the debugger
    // output on Windows, on standard error elsewhere). Returns the previous one.
    static EscapeReporter set_escape_reporter(EscapeReporter reporter) noexcept;
    // How many exceptions have left thread bodies in this process so far.
    static std::uint64_t escaped_exceptions() noexcept;

    bool joinable() const { return handle_ != 0; }
    // True on the thread this object started.
    bool is_current() const;
    // Waits for the thread to end. Called on the thread itself, it detaches instead (a
    // thread cannot wait for itself); the thread then ends on its own.
    void join();
    void detach();

  private:
    std::uintptr_t handle_ = 0;  // pthread_t or the Windows thread handle
    std::uint32_t id_ = 0;       // Windows thread id (unused on POSIX)
};

}  // namespace zorvik::net
