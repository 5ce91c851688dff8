// Global memory blocks (the medium of clipboard and data-object transfers).
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>

#include "win/unique_any.h"

namespace porvex::win {

// A movable block of size bytes (at least one); throws std::bad_alloc when refused.
inline UniqueHglobal global_alloc(std::size_t size) {
    UniqueHglobal block(::GlobalAlloc(GMEM_MOVEABLE, size ? size : 1));
    if (!block) {
        throw std::bad_alloc();
    }
    return block;
}

// The block's memory while the scope lives (null when it cannot be locked).
class GlobalLockScope {
  public:
    explicit GlobalLockScope(HGLOBAL block) noexcept
        : block_(block), data_(block ? ::GlobalLock(block) : nullptr) {}
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    ~GlobalLockScope() {
        if (data_) {
            ::GlobalUnlock(block_);
        }
    }
    void* data() const noexcept { return data_; }
    // The block's size as the system reports it.
    std::size_t size() const noexcept { return block_ ? ::GlobalSize(block_) : 0; }

  private:
    HGLOBAL block_;
    void* data_;
};

}  // namespace porvex::win
