#include "opc/com/engine_lock.h"

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

}  // namespace

void TEngineLock::Enter() noexcept {
    EngineSection().Enter();
    ++engine_depth;
}

void TEngineLock::Leave() noexcept {
    --engine_depth;
    EngineSection().Leave();
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
