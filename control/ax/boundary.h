// The error policy at every COM method boundary of the control: nothing thrown inside
// leaves a method; it is logged and becomes an HRESULT.
#pragma once

#include <windows.h>

#include "guarded.h"

namespace tarnet::ax {

template <class F>
HRESULT guarded(F&& body) noexcept {
    return tarnet::guarded("COM method", std::forward<F>(body), [](Failure failure) {
        return failure == Failure::out_of_memory ? E_OUTOFMEMORY : E_UNEXPECTED;
    });
}

}  // namespace tarnet::ax
