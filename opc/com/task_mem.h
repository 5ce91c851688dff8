// Memory handed to COM clients: arrays and strings allocated with the task allocator, owned
// here until they are handed out (Detach), freed with their contents when a call fails.
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

namespace porvex::opc {

// What an element of a task array owns, released with the array. Zeroed elements own
// nothing, so a partly filled array releases safely.
template <class T>
struct TTaskElement {
    static void Release(T&) noexcept {}
};

template <>
struct TTaskElement<VARIANT> {
    static void Release(VARIANT& v) noexcept { VariantClear(&v); }
};

template <>
struct TTaskElement<LPWSTR> {
    static void Release(LPWSTR& s) noexcept {
        CoTaskMemFree(s);
        s = nullptr;
    }
};

template <class T>
class TTaskArray {
  public:
    TTaskArray() noexcept = default;
    // count zeroed elements; throws std::bad_alloc when the size overflows or the allocator
    // refuses. A count of 0 holds no memory.
    explicit TTaskArray(std::size_t count) : size_(count) {
        if (count == 0) {
            return;
        }
        if (count > SIZE_MAX / sizeof(T)) {
            throw std::bad_alloc();
        }
        p_ = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
        if (!p_) {
            throw std::bad_alloc();
        }
        std::memset(static_cast<void*>(p_), 0, count * sizeof(T));
    }
    TTaskArray(const TTaskArray&) = delete;
    TTaskArray& operator=(const TTaskArray&) = delete;
    TTaskArray(TTaskArray&& other) noexcept
        : p_(std::exchange(other.p_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    TTaskArray& operator=(TTaskArray&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~TTaskArray() { Reset(); }

    T& operator[](std::size_t i) noexcept { return p_[i]; }
    const T& operator[](std::size_t i) const noexcept { return p_[i]; }
    T* Get() const noexcept { return p_; }
    std::size_t Size() const noexcept { return size_; }

    // Hands the array and everything it owns to the caller.
    T* Detach() noexcept {
        size_ = 0;
        return std::exchange(p_, nullptr);
    }
    void Reset() noexcept {
        if (p_) {
            for (std::size_t i = 0; i < size_; ++i) {
                TTaskElement<T>::Release(p_[i]);
            }
            CoTaskMemFree(std::exchange(p_, nullptr));
        }
        size_ = 0;
    }

  private:
    T* p_ = nullptr;
    std::size_t size_ = 0;
};

// A null-terminated wide string from the task allocator.
class TTaskString {
  public:
    TTaskString() noexcept = default;
    // Copies text; throws std::bad_alloc when the allocator refuses.
    explicit TTaskString(std::wstring_view text) {
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        s_ = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!s_) {
            throw std::bad_alloc();
        }
        std::memcpy(s_, text.data(), text.size() * sizeof(wchar_t));
        s_[text.size()] = L'\0';
    }
    TTaskString(const TTaskString&) = delete;
    TTaskString& operator=(const TTaskString&) = delete;
    TTaskString(TTaskString&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    TTaskString& operator=(TTaskString&& other) noexcept {
        if (this != &other) {
            Reset();
            s_ = std::exchange(other.s_, nullptr);
        }
        return *this;
    }
    ~TTaskString() { Reset(); }

    LPWSTR Get() const noexcept { return s_; }
    LPWSTR Detach() noexcept { return std::exchange(s_, nullptr); }
    void Reset() noexcept { CoTaskMemFree(std::exchange(s_, nullptr)); }

  private:
    LPWSTR s_ = nullptr;
};

// Frees a task-allocated block on scope exit (for out arguments received from others).
template <class T>
class TTaskBlock {
  public:
    TTaskBlock() noexcept = default;
    TTaskBlock(const TTaskBlock&) = delete;
    TTaskBlock& operator=(const TTaskBlock&) = delete;
    ~TTaskBlock() { CoTaskMemFree(p_); }
    T** Put() noexcept {
        CoTaskMemFree(std::exchange(p_, nullptr));
        return &p_;
    }
    T* Get() const noexcept { return p_; }
    T& operator[](std::size_t i) const noexcept { return p_[i]; }

  private:
    T* p_ = nullptr;
};

}  // namespace porvex::opc
