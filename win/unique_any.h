// One owner for every kind of Win32 resource that is a plain value with a "none" value and
// a function that frees it: kernel handles, registry keys, global and task memory, sockets.
// A traits type names the value type, its invalid value and how it is closed.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <cstddef>
#include <utility>

namespace porvex::win {

template <class Traits>
class UniqueAny {
  public:
    using type = typename Traits::type;

    UniqueAny() noexcept = default;
    explicit UniqueAny(type value) noexcept : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueAny() { reset(); }

    type get() const noexcept { return value_; }
    bool is_valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return is_valid(); }

    // Closes what is held and takes value.
    void reset(type value = Traits::invalid()) noexcept {
        const type old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }
    // Gives the value away without closing it.
    type release() noexcept { return std::exchange(value_, Traits::invalid()); }
    // Closes what is held and returns the slot for an out argument.
    type* put() noexcept {
        reset();
        return &value_;
    }

    // Element access for typed memory blocks (compiled only where it is used).
    auto& operator[](std::size_t i) const noexcept { return value_[i]; }

  private:
    type value_ = Traits::invalid();
};

// Kernel handles whose "none" is null (events, threads, processes, mutexes).
struct HandleNullTraits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};

// Kernel handles whose "none" is INVALID_HANDLE_VALUE (files, pipes from CreateFile,
// tool-help snapshots).
struct HandleInvalidTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};

struct HkeyTraits {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type key) noexcept { ::RegCloseKey(key); }
};

struct HglobalTraits {
    using type = HGLOBAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type block) noexcept { ::GlobalFree(block); }
};

template <class T>
struct CoTaskMemTraits {
    using type = T*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::CoTaskMemFree(p); }
};

using UniqueHandle = UniqueAny<HandleNullTraits>;
using UniqueFileHandle = UniqueAny<HandleInvalidTraits>;
using UniqueHkey = UniqueAny<HkeyTraits>;
using UniqueHglobal = UniqueAny<HglobalTraits>;
// A block from the task allocator (out arguments received from COM: arrays, strings).
template <class T = void>
using UniqueCoTaskMem = UniqueAny<CoTaskMemTraits<T>>;

}  // namespace porvex::win
