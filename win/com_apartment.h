// COM on the calling thread for the lifetime of the guard. It remembers whether its
// CoInitializeEx succeeded (S_OK, or S_FALSE when the thread was already in that kind of
// apartment) and balances only then. A thread already in the other kind of apartment
// (RPC_E_CHANGED_MODE) can still use COM in that apartment: the guard does not own it.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "win/com_error.h"

namespace porvex::win {

class ComApartment {
  public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : result_(::CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }

    // CoInitializeEx's result.
    HRESULT result() const noexcept { return result_; }
    // Whether this guard initialised COM (and uninitialises it when it goes).
    bool initialised() const noexcept { return SUCCEEDED(result_); }
    // Whether COM can be used on this thread: initialised here, or the thread was already in
    // an apartment of the other kind.
    bool usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    // For a thread that needs exactly this model (the OPC engine's STA): ComError with the
    // system's code unless this guard initialised COM.
    void require() const {
        if (!initialised()) {
            throw ComError(result_, "COM could not be initialised");
        }
    }

  private:
    HRESULT result_;
};

}  // namespace porvex::win
