// An owning BSTR.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string_view>
#include <utility>

namespace porvex::win {

class Bstr {
  public:
    Bstr() noexcept = default;
    // Copies the text; throws std::bad_alloc when the system refuses.
    explicit Bstr(std::wstring_view text)
        : s_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!s_) {
            throw std::bad_alloc();
        }
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.s_, nullptr));
        }
        return *this;
    }
    ~Bstr() { reset(); }

    // Adopts a BSTR the caller owns.
    static Bstr adopt(BSTR s) noexcept {
        Bstr out;
        out.s_ = s;
        return out;
    }
    // A copy of text, or an empty owner when the system refuses (for code that reports
    // failures by results).
    static Bstr copy_nothrow(std::wstring_view text) noexcept {
        return adopt(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    }

    BSTR get() const noexcept { return s_; }
    explicit operator bool() const noexcept { return s_ != nullptr; }
    // Frees what is held and returns the slot for an out argument.
    BSTR* put() noexcept {
        reset();
        return &s_;
    }
    BSTR detach() noexcept { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) noexcept {
        if (BSTR old = std::exchange(s_, s)) {
            ::SysFreeString(old);
        }
    }
    UINT length() const noexcept { return ::SysStringLen(s_); }
    // The text (a null BSTR is the empty text).
    std::wstring_view view() const noexcept {
        return s_ ? std::wstring_view(s_, ::SysStringLen(s_)) : std::wstring_view();
    }

  private:
    BSTR s_ = nullptr;
};

}  // namespace porvex::win
