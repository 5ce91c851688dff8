// The reference-counted base of the engine's COM objects. It answers IUnknown and the
// interfaces it is instantiated with, and counts the live objects of the engine so that a
// local server can end when its last object is released.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <functional>

namespace porvex::opc {

class TComObjectCount {
  public:
    static void Add() noexcept;
    static void Remove() noexcept;
    static long Live() noexcept;
    // Called on the releasing thread whenever the count of live objects falls to zero.
    static void SetOnLastRelease(std::function<void()> hook);
};

template <class First, class... Rest>
class TComObject : public First, public Rest... {
  public:
    TComObject() noexcept { TComObjectCount::Add(); }
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            FinalRelease();
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *object = Identity();
        } else if (Refuses(riid)) {
            return E_NOINTERFACE;
        } else if (!Find<First, Rest...>(riid, object)) {
            *object = QueryExtra(riid);
            if (!*object) {
                return E_NOINTERFACE;
            }
        }
        AddRef();
        return S_OK;
    }

    // The object's identity (its IUnknown), without a new reference.
    IUnknown* Identity() noexcept { return static_cast<First*>(this); }
    LONG References() const noexcept { return refs_; }

  protected:
    virtual ~TComObject() { TComObjectCount::Remove(); }
    // The last reference went.
    virtual void FinalRelease() noexcept { delete this; }
    // A listed interface this object does not answer at the moment.
    virtual bool Refuses(REFIID) const noexcept { return false; }
    // An interface answered besides the listed ones, on this object's identity (its AddRef
    // and Release count on this object), without a new reference; null when not answered.
    virtual void* QueryExtra(REFIID) noexcept { return nullptr; }

  private:
    template <class I, class... More>
    bool Find(REFIID riid, void** object) noexcept {
        if (IsEqualIID(riid, __uuidof(I))) {
            *object = static_cast<I*>(this);
            return true;
        }
        if constexpr (sizeof...(More) > 0) {
            return Find<More...>(riid, object);
        } else {
            return false;
        }
    }

    volatile LONG refs_ = 0;
};

}  // namespace porvex::opc
