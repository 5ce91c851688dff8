// An owning global memory block (the medium of data-object transfers), and a scope that
// keeps one locked.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>
#include <utility>

namespace porvex::opc {

class THGlobal {
  public:
    THGlobal() noexcept = default;
    // A movable block of size bytes; throws std::bad_alloc when the system refuses.
    explicit THGlobal(std::size_t size) : h_(GlobalAlloc(GMEM_MOVEABLE, size ? size : 1)) {
        if (!h_) {
            throw std::bad_alloc();
        }
    }
    THGlobal(const THGlobal&) = delete;
    THGlobal& operator=(const THGlobal&) = delete;
    THGlobal(THGlobal&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    THGlobal& operator=(THGlobal&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    ~THGlobal() { Reset(); }

    HGLOBAL Get() const noexcept { return h_; }
    HGLOBAL Detach() noexcept { return std::exchange(h_, nullptr); }
    void Reset() noexcept {
        if (h_) {
            GlobalFree(std::exchange(h_, nullptr));
        }
    }

  private:
    HGLOBAL h_ = nullptr;
};

// The block's memory while the scope lives (null when it cannot be locked).
class TGlobalLock {
  public:
    explicit TGlobalLock(HGLOBAL block) noexcept
        : block_(block), data_(block ? GlobalLock(block) : nullptr) {}
    TGlobalLock(const TGlobalLock&) = delete;
    TGlobalLock& operator=(const TGlobalLock&) = delete;
    ~TGlobalLock() {
        if (data_) {
            GlobalUnlock(block_);
        }
    }
    void* Data() const noexcept { return data_; }
    // The block's size as the system reports it.
    std::size_t Size() const noexcept { return block_ ? GlobalSize(block_) : 0; }

  private:
    HGLOBAL block_;
    void* data_;
};

}  // namespace porvex::opc
