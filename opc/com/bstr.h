// An owning BSTR.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string_view>
#include <utility>

namespace porvex::opc {

class TBstr {
  public:
    TBstr() noexcept = default;
    // Copies the text; throws std::bad_alloc when the system refuses.
    explicit TBstr(std::wstring_view text)
        : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!b_) {
            throw std::bad_alloc();
        }
    }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr(TBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    TBstr& operator=(TBstr&& other) noexcept {
        if (this != &other) {
            Reset();
            b_ = std::exchange(other.b_, nullptr);
        }
        return *this;
    }
    ~TBstr() { Reset(); }

    static TBstr Adopt(BSTR b) noexcept {
        TBstr out;
        out.b_ = b;
        return out;
    }

    BSTR Get() const noexcept { return b_; }
    BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
    void Reset() noexcept {
        if (b_) {
            SysFreeString(std::exchange(b_, nullptr));
        }
    }
    std::wstring_view View() const noexcept {
        return b_ ? std::wstring_view(b_, SysStringLen(b_)) : std::wstring_view();
    }

  private:
    BSTR b_ = nullptr;
};

}  // namespace porvex::opc
