#include "opc/com/com_object.h"

#include <mutex>
#include <utility>

namespace porvex::opc {
namespace {

volatile LONG live_objects = 0;

std::mutex& HookLock() {
    static std::mutex lock;
    return lock;
}

std::function<void()>& Hook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

void TComObjectCount::Add() noexcept { InterlockedIncrement(&live_objects); }

void TComObjectCount::Remove() noexcept {
    if (InterlockedDecrement(&live_objects) != 0) {
        return;
    }
    std::function<void()> hook;
    {
        std::lock_guard guard(HookLock());
        hook = Hook();
    }
    if (hook) {
        try {
            hook();
        } catch (...) {
            // Called from a destructor: nothing may escape.
        }
    }
}

long TComObjectCount::Live() noexcept { return live_objects; }

void TComObjectCount::SetOnLastRelease(std::function<void()> hook) {
    std::lock_guard guard(HookLock());
    Hook() = std::move(hook);
}

}  // namespace porvex::opc
