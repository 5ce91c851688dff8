// COM on the calling thread for the lifetime of the holder: a single-threaded apartment, as
// the engine's thread needs (its objects, ticks and posted work all live on it).
#pragma once

#include <windows.h>

#include <objbase.h>

#include "opc/com/errors.h"

namespace porvex::opc {

class TComApartment {
  public:
    // EOpcError with the system's code when COM cannot be initialised.
    explicit TComApartment(DWORD model = COINIT_APARTMENTTHREADED)
        : hr_(CoInitializeEx(nullptr, model)) {
        if (FAILED(hr_)) {
            throw EOpcError(hr_, L"COM could not be initialised");
        }
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    ~TComApartment() { CoUninitialize(); }

  private:
    HRESULT hr_;
};

}  // namespace porvex::opc
