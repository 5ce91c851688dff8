#include "win/com_object.h"

#include <mutex>

namespace porvex::win {
namespace {

volatile LONG live_objects = 0;

std::mutex& hook_lock() {
    static std::mutex lock;
    return lock;
}

std::function<void()>& hook() {
    static std::function<void()> on_last_release;
    return on_last_release;
}

}  // namespace

void ObjectCount::add() noexcept { InterlockedIncrement(&live_objects); }

void ObjectCount::remove() noexcept {
    if (InterlockedDecrement(&live_objects) != 0) {
        return;
    }
    std::function<void()> call;
    {
        std::lock_guard guard(hook_lock());
        call = hook();
    }
    if (call) {
        try {
            call();
        } catch (...) {
            // Called from a destructor: nothing may escape.
        }
    }
}

long ObjectCount::live() noexcept { return live_objects; }

void ObjectCount::set_on_last_release(std::function<void()> on_last_release) {
    std::lock_guard guard(hook_lock());
    hook() = std::move(on_last_release);
}

}  // namespace porvex::win
