// What the OPC structures handed to clients own, for TTaskArray: a failed call frees the
// strings, variants and blobs of every element it had filled.
#pragma once

#include "opc/com/task_mem.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {

template <>
struct TTaskElement<OPCITEMSTATE> {
    static void Release(OPCITEMSTATE& s) noexcept { VariantClear(&s.vDataValue); }
};

template <>
struct TTaskElement<OPCITEMRESULT> {
    static void Release(OPCITEMRESULT& r) noexcept {
        CoTaskMemFree(r.pBlob);
        r.pBlob = nullptr;
    }
};

template <>
struct TTaskElement<OPCITEMATTRIBUTES> {
    static void Release(OPCITEMATTRIBUTES& a) noexcept {
        CoTaskMemFree(a.szAccessPath);
        CoTaskMemFree(a.szItemID);
        CoTaskMemFree(a.pBlob);
        a.szAccessPath = nullptr;
        a.szItemID = nullptr;
        a.pBlob = nullptr;
        VariantClear(&a.vEUInfo);
    }
};

}  // namespace porvex::opc
