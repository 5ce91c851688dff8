// What the OPC structures handed to clients own, for win::TaskArray: a failed call frees
// the strings, variants and blobs of every element it had filled.
#pragma once

#include "opc/idl/opc_interfaces.h"
#include "win/task_memory.h"

namespace porvex::win {

template <>
struct TaskElement<OPCITEMSTATE> {
    static void release(OPCITEMSTATE& s) noexcept { ::VariantClear(&s.vDataValue); }
};

template <>
struct TaskElement<OPCITEMRESULT> {
    static void release(OPCITEMRESULT& r) noexcept {
        ::CoTaskMemFree(r.pBlob);
        r.pBlob = nullptr;
    }
};

template <>
struct TaskElement<OPCITEMATTRIBUTES> {
    static void release(OPCITEMATTRIBUTES& a) noexcept {
        ::CoTaskMemFree(a.szAccessPath);
        ::CoTaskMemFree(a.szItemID);
        ::CoTaskMemFree(a.pBlob);
        a.szAccessPath = nullptr;
        a.szItemID = nullptr;
        a.pBlob = nullptr;
        ::VariantClear(&a.vEUInfo);
    }
};

}  // namespace porvex::win
