// Checks of the arguments in-process callers pass (a proxy never delivers a null [in]
// pointer, but an in-process client can pass anything).
#pragma once

#include <windows.h>

#include "opc/com/errors.h"

namespace porvex::opc {

// The most items one call handles. Larger counts are refused with E_OUTOFMEMORY before any
// allocation or any read of the caller's arrays.
inline constexpr DWORD kMaxItemsPerCall = 1u << 20;

// A per-item call needs a positive count and its array: E_INVALIDARG otherwise.
inline void CheckItemArray(DWORD count, const void* array) {
    if (count == 0 || !array) {
        throw EOpcError(E_INVALIDARG);
    }
    if (count > kMaxItemsPerCall) {
        throw EOpcError(E_OUTOFMEMORY);
    }
}

// An out argument the method must fill: E_INVALIDARG when missing.
inline void CheckOut(const void* out) {
    if (!out) {
        throw EOpcError(E_INVALIDARG);
    }
}

}  // namespace porvex::opc
