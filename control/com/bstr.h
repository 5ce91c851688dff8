// An owned BSTR, and the conversions between automation strings and the 8-bit text (the
// system code page) the engine works with.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace tarnet::com {

class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : s_(::SysAllocString(text)) {}
    Bstr(const wchar_t* text, UINT length) : s_(::SysAllocStringLen(text, length)) {}
    ~Bstr() { ::SysFreeString(s_); }
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        std::swap(s_, other.s_);
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return s_; }
    BSTR* put() {
        ::SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    BSTR detach() { return std::exchange(s_, nullptr); }
    UINT length() const { return ::SysStringLen(s_); }

  private:
    BSTR s_ = nullptr;
};

// Automation text to the system code page (characters it lacks become its default
// character). A null BSTR is the empty text.
std::string to_system_text(BSTR text);
std::string to_system_text(std::wstring_view text);
// System code page text to an automation string.
Bstr from_system_text(std::string_view text);
std::wstring widen_system_text(std::string_view text);

}  // namespace tarnet::com
