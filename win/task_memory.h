// Memory handed to COM callers: arrays and strings from the task allocator, owned here
// until they are handed out (detach), freed with their contents when a call fails.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "win/unique_any.h"

namespace porvex::win {

// What an element of a task array owns, released with the array. Zeroed elements own
// nothing, so a partly filled array releases safely. Specialise for structures that own
// strings or VARIANTs.
template <class T>
struct TaskElement {
    static void release(T&) noexcept {}
};

template <>
struct TaskElement<VARIANT> {
    static void release(VARIANT& v) noexcept { ::VariantClear(&v); }
};

template <>
struct TaskElement<LPWSTR> {
    static void release(LPWSTR& s) noexcept {
        ::CoTaskMemFree(s);
        s = nullptr;
    }
};

template <class T>
class TaskArray {
  public:
    TaskArray() noexcept = default;
    // count zeroed elements; throws std::bad_alloc when the size overflows or the allocator
    // refuses. A count of 0 holds no memory.
    explicit TaskArray(std::size_t count) : size_(count) {
        if (count == 0) {
            return;
        }
        if (count > SIZE_MAX / sizeof(T)) {
            throw std::bad_alloc();
        }
        p_ = static_cast<T*>(::CoTaskMemAlloc(count * sizeof(T)));
        if (!p_) {
            throw std::bad_alloc();
        }
        std::memset(static_cast<void*>(p_), 0, count * sizeof(T));
    }
    TaskArray(const TaskArray&) = delete;
    TaskArray& operator=(const TaskArray&) = delete;
    TaskArray(TaskArray&& other) noexcept
        : p_(std::exchange(other.p_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    TaskArray& operator=(TaskArray&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~TaskArray() { reset(); }

    // Takes a received array of count elements (an out argument from a COM call) with
    // everything its elements own.
    static TaskArray adopt(T* p, std::size_t count) noexcept {
        TaskArray out;
        out.p_ = p;
        out.size_ = p ? count : 0;
        return out;
    }

    T& operator[](std::size_t i) noexcept { return p_[i]; }
    const T& operator[](std::size_t i) const noexcept { return p_[i]; }
    T* get() const noexcept { return p_; }
    std::size_t size() const noexcept { return size_; }

    // Hands the array and everything it owns to the caller.
    T* detach() noexcept {
        size_ = 0;
        return std::exchange(p_, nullptr);
    }
    void reset() noexcept {
        if (p_) {
            for (std::size_t i = 0; i < size_; ++i) {
                TaskElement<T>::release(p_[i]);
            }
            ::CoTaskMemFree(std::exchange(p_, nullptr));
        }
        size_ = 0;
    }

  private:
    T* p_ = nullptr;
    std::size_t size_ = 0;
};

// A null-terminated copy of text from the task allocator; throws std::bad_alloc when the
// allocator refuses.
inline UniqueCoTaskMem<wchar_t> task_string(std::wstring_view text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueCoTaskMem<wchar_t> s(static_cast<wchar_t*>(::CoTaskMemAlloc(bytes)));
    if (!s) {
        throw std::bad_alloc();
    }
    std::memcpy(s.get(), text.data(), text.size() * sizeof(wchar_t));
    s[text.size()] = L'\0';
    return s;
}

}  // namespace porvex::win
