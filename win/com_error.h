// A failed COM or OLE Automation call as an exception, for code that reports failures by
// throwing (the OPC engine turns it into the call's HRESULT at its COM boundary).
#pragma once

#include <windows.h>

#include <stdexcept>

namespace porvex::win {

class ComError : public std::runtime_error {
  public:
    explicit ComError(HRESULT code, const char* what = "COM call failed")
        : std::runtime_error(what), code_(code) {}
    HRESULT code() const noexcept { return code_; }

  private:
    HRESULT code_;
};

// Throws ComError when code is a failure.
inline void throw_if_failed(HRESULT code, const char* what = "COM call failed") {
    if (FAILED(code)) {
        throw ComError(code, what);
    }
}

}  // namespace porvex::win
