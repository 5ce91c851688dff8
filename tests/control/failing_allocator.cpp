#include "failing_allocator.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine_internal.h"

namespace tarnet::testing {

namespace {

enum class Target { none, role, thread };

std::atomic<Target> g_target{Target::none};
std::atomic<ThreadRole> g_role{ThreadRole::control};
std::atomic<DWORD> g_thread{0};
std::atomic<int> g_countdown{0};
std::atomic<int> g_failed{0};

bool targeted() {
    switch (g_target.load()) {
        case Target::role:
            return current_thread_role() == g_role.load();
        case Target::thread:
            return ::GetCurrentThreadId() == g_thread.load();
        case Target::none:
            break;
    }
    return false;
}

void arm(Target target, int nth) {
    g_target.store(Target::none);
    g_countdown.store(nth);
    g_target.store(target);
}

}  // namespace

void fail_allocation_on(ThreadRole role, int nth) {
    g_role.store(role);
    arm(Target::role, nth);
}

void fail_allocation_here(int nth) {
    g_thread.store(::GetCurrentThreadId());
    arm(Target::thread, nth);
}

void stop_failing_allocations() { g_target.store(Target::none); }

int failed_allocations() { return g_failed.load(); }

namespace {

// Called by every operator new below.
void* allocate(std::size_t size) {
    if (g_target.load() != Target::none && targeted() && g_countdown.fetch_sub(1) == 1) {
        g_target.store(Target::none);
        g_failed.fetch_add(1);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

}  // namespace tarnet::testing

void* operator new(std::size_t size) { return tarnet::testing::allocate(size); }
void* operator new[](std::size_t size) { return tarnet::testing::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return tarnet::testing::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return tarnet::testing::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
