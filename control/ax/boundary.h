// The error policy at every COM method boundary of the control: nothing thrown inside
// leaves a method; it becomes an HRESULT.
#pragma once

#include <windows.h>

#include <exception>
#include <new>

namespace tarnet::ax {

template <class F>
HRESULT guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace tarnet::ax
