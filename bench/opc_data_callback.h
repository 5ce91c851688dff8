// An IOPCDataCallback for benchmarks: each benchmark overrides what it measures; every
// other callback is taken and ignored.
#pragma once

#include <windows.h>

#include "opc/idl/opc_interfaces.h"
#include "win/com_object.h"

namespace porvex::bench {

class TIgnoringDataCallback : public win::ComObject<IOPCDataCallback> {
  public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                             VARIANT*, WORD*, FILETIME*,
                                             HRESULT*) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) noexcept override { return S_OK; }
};

}  // namespace porvex::bench
