// The base of our COM objects: the reference count, IUnknown over a table of interfaces,
// and the count of the module's live objects (a local server ends, a DLL may unload, when
// it falls to zero).
//
//   class Page final : public win::ComObject<IPropertyPage> { ... };
//   class Control : public win::ComObject<IDispatch,
//                                         win::Interface<IViewObject2, IViewObject>, ...>
//
// Each entry is an interface the object derives from and answers; Interface<I, Older...>
// also answers the IIDs of older interfaces whose methods are the start of I's. IUnknown
// is the first entry. An object starts with no reference: hold it in a ComPtr (or use
// make_object / create_instance) at once.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <functional>
#include <new>
#include <tuple>
#include <utility>

namespace porvex::win {

// The module's live COM objects.
class ObjectCount {
  public:
    static void add() noexcept;
    static void remove() noexcept;
    static long live() noexcept;
    // Called on the releasing thread whenever the count falls to zero.
    static void set_on_last_release(std::function<void()> hook);
};

template <class I, class... Older>
struct Interface {};

namespace detail {

template <class Entry>
struct InterfaceEntry {
    using type = Entry;
    static bool answers(REFIID iid) noexcept { return IsEqualIID(iid, __uuidof(Entry)); }
};

template <class I, class... Older>
struct InterfaceEntry<Interface<I, Older...>> {
    using type = I;
    static bool answers(REFIID iid) noexcept {
        return IsEqualIID(iid, __uuidof(I)) || (IsEqualIID(iid, __uuidof(Older)) || ...);
    }
};

}  // namespace detail

template <class... Entries>
class ComObject : public detail::InterfaceEntry<Entries>::type... {
    using First =
        std::tuple_element_t<0, std::tuple<typename detail::InterfaceEntry<Entries>::type...>>;

  public:
    ComObject() noexcept { ObjectCount::add(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            final_release();
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = identity();
        } else if (refuses(iid)) {
            return E_NOINTERFACE;
        } else if (!find<Entries...>(iid, object)) {
            *object = query_extra(iid);
            if (!*object) {
                return E_NOINTERFACE;
            }
        }
        AddRef();
        return S_OK;
    }

    // The object's identity (its IUnknown), without a new reference.
    IUnknown* identity() noexcept { return static_cast<First*>(this); }
    LONG references() const noexcept { return refs_; }

  protected:
    virtual ~ComObject() { ObjectCount::remove(); }
    // The last reference went. An override that calls back into the object's interfaces
    // first takes a reference of its own (AddRef) so that the object is not released twice.
    virtual void final_release() noexcept { delete this; }
    // A listed interface this object does not answer at the moment.
    virtual bool refuses(REFIID) const noexcept { return false; }
    // An interface answered besides the listed ones (a runtime IID, an extension), on this
    // object's identity (its AddRef and Release count on this object), without a new
    // reference; null when not answered.
    virtual void* query_extra(REFIID) noexcept { return nullptr; }

  private:
    template <class Entry, class... More>
    bool find(REFIID iid, void** object) noexcept {
        using Entry_ = detail::InterfaceEntry<Entry>;
        if (Entry_::answers(iid)) {
            *object = static_cast<typename Entry_::type*>(this);
            return true;
        }
        if constexpr (sizeof...(More) > 0) {
            return find<More...>(iid, object);
        } else {
            return false;
        }
    }

    volatile LONG refs_ = 0;
};

// Creates T with args and hands its interface iid to *out: the object's result, or
// E_OUTOFMEMORY / E_FAIL when construction failed. The object goes when the query fails.
template <class T, class... Args>
HRESULT create_instance(REFIID iid, void** out, Args&&... args) noexcept {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    T* object = nullptr;
    try {
        object = new T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace porvex::win
