// The class factory of one of the library's classes: a new object per request.
// T provides: static HRESULT create_instance(REFIID iid, void** out).
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <new>

#include "module.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace tarnet::ax {

template <class T>
class ClassFactory final : public porvex::win::ComObject<IClassFactory> {
  public:
    static HRESULT create(REFIID iid, void** out) {
        auto* factory = new (std::nothrow) ClassFactory();
        if (factory == nullptr) {
            return E_OUTOFMEMORY;
        }
        const porvex::win::ComPtr<ClassFactory> held(factory);
        return factory->QueryInterface(iid, out);
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
    ~ClassFactory() override = default;
};

}  // namespace tarnet::ax
