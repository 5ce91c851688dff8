// The class factory of one of the library's classes: a new object per request.
// T provides: static HRESULT create_instance(REFIID iid, void** out).
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <new>

#include "module.h"

namespace tarnet::ax {

template <class T>
class ClassFactory final : public IClassFactory {
  public:
    static HRESULT create(REFIID iid, void** out) {
        auto* factory = new (std::nothrow) ClassFactory();
        if (factory == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return T::create_instance(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        Module::instance().lock(lock != FALSE);
        return S_OK;
    }

  private:
    ClassFactory() = default;
    ~ClassFactory() = default;

    std::atomic<ULONG> refs_{1};
    ModuleObject counted_;
};

}  // namespace tarnet::ax
