#include "opc/com/engine_lock.h"

#include <windows.h>

#include <unknwn.h>

#include <memory>
#include <utility>
#include <vector>

#include "opc/com/critical_section.h"

namespace porvex::opc {
namespace {

TCriticalSection& EngineSection() noexcept {
    // Made on first use, never destroyed: objects released during the process's exit
    // may still take it.
    static TCriticalSection* section = new TCriticalSection;
    return *section;
}

thread_local int engine_depth = 0;
// Client interfaces this thread let go of while it held the lock; released when it leaves
// the lock. A plain pointer: a thread-local object with a destructor would need the
// run-time's per-thread clean-up, and the list is empty whenever a thread leaves the engine.
thread_local std::vector<IUnknown*>* pending_releases = nullptr;

void ReleasePending() noexcept {
    // Each release may run engine code again (and defer more): a new list collects those.
    while (pending_releases) {
        const std::unique_ptr<std::vector<IUnknown*>> list(
            std::exchange(pending_releases, nullptr));
        for (IUnknown* object : *list) {
            object->Release();
        }
    }
}

}  // namespace

void TEngineLock::Enter() noexcept {
    EngineSection().Enter();
    ++engine_depth;
}

void TEngineLock::Leave() noexcept {
    --engine_depth;
    EngineSection().Leave();
    if (engine_depth == 0 && pending_releases) {
        ReleasePending();
    }
}

void TEngineLock::ReleaseOutside(IUnknown* object) noexcept {
    if (!object) {
        return;
    }
    if (engine_depth == 0) {
        object->Release();
        return;
    }
    try {
        if (!pending_releases) {
            pending_releases = new std::vector<IUnknown*>;
        }
        pending_releases->push_back(object);
    } catch (...) {
        object->Release();  // out of memory: released now rather than never
    }
}

int TEngineLock::Depth() noexcept { return engine_depth; }

TEngineUnlock::TEngineUnlock() noexcept : depth_(engine_depth) {
    for (int i = 0; i < depth_; ++i) {
        TEngineLock::Leave();
    }
}

TEngineUnlock::~TEngineUnlock() {
    for (int i = 0; i < depth_; ++i) {
        TEngineLock::Enter();
    }
}

}  // namespace porvex::opc
