// POSIX side of Thread.
#include <limits.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "thread.h"
#include "thread_body.h"

namespace zorvik::net {
namespace {

// Sanitizers put much larger frames on the stack; give them room.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackFactor = 8;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kStackFactor = 8;
#else
constexpr std::size_t kStackFactor = 1;
#endif
#else
constexpr std::size_t kStackFactor = 1;
#endif

void* run(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    run_thread_body(*body);
    return nullptr;
}

pthread_t to_native(std::uintptr_t h) { return static_cast<pthread_t>(h); }

}  // namespace

void report_escape_by_default(const std::string& line) noexcept {
    std::fputs(line.c_str(), stderr);
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
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    const std::size_t size = std::max<std::size_t>(stack_size * kStackFactor,
                                                   static_cast<std::size_t>(PTHREAD_STACK_MIN));
    pthread_attr_setstacksize(&attr, size);
    pthread_t tid{};
    const int rc = pthread_create(&tid, &attr, run, owned.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        return false;
    }
    owned.release();  // run() owns it now
    handle_ = static_cast<std::uintptr_t>(tid);
    return true;
}

bool Thread::is_current() const {
    return handle_ != 0 && pthread_equal(pthread_self(), to_native(handle_)) != 0;
}

void Thread::join() {
    if (handle_ == 0) {
        return;
    }
    if (is_current()) {
        detach();
        return;
    }
    pthread_join(to_native(std::exchange(handle_, 0)), nullptr);
}

void Thread::detach() {
    if (handle_ != 0) {
        pthread_detach(to_native(std::exchange(handle_, 0)));
    }
}

}  // namespace zorvik::net
