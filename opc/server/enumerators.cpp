#include "opc/server/enumerators.h"

#include "opc/com/boundary.h"
#include "win/task_memory.h"

namespace porvex::opc {
namespace {

// The common Skip rule: advance when the end is not passed (S_OK), otherwise move to the
// end (S_FALSE).
HRESULT SkipWithin(std::size_t& position, std::size_t size, ULONG celt) noexcept {
    if (celt <= size - position) {
        position += celt;
        return S_OK;
    }
    position = size;
    return S_FALSE;
}

}  // namespace

// ---- TStringsEnumerator --------------------------------------------------------------------

win::ComPtr<IEnumString> TStringsEnumerator::Create(std::vector<std::wstring> names) {
    auto shared = std::make_shared<const std::vector<std::wstring>>(std::move(names));
    return win::ComPtr<IEnumString>(new TStringsEnumerator(std::move(shared), 0));
}

HRESULT TStringsEnumerator::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) noexcept {
    if (pceltFetched) {
        *pceltFetched = 0;
    }
    if (celt == 0) {
        return S_OK;
    }
    if (!rgelt) {
        return E_INVALIDARG;
    }
    const std::vector<std::wstring>& names = *names_;
    ULONG handed = 0;
    try {
        while (handed < celt && position_ + handed < names.size()) {
            rgelt[handed] = win::task_string(names[position_ + handed]).release();
            ++handed;
        }
    } catch (...) {
        for (ULONG i = 0; i < handed; ++i) {
            CoTaskMemFree(rgelt[i]);
            rgelt[i] = nullptr;
        }
        return E_OUTOFMEMORY;
    }
    position_ += handed;
    if (pceltFetched) {
        *pceltFetched = handed;
    }
    return handed == celt ? S_OK : S_FALSE;
}

HRESULT TStringsEnumerator::Skip(ULONG celt) noexcept {
    return SkipWithin(position_, names_->size(), celt);
}

HRESULT TStringsEnumerator::Reset() noexcept {
    position_ = 0;
    return S_OK;
}

HRESULT TStringsEnumerator::Clone(IEnumString** ppenum) noexcept {
    if (!ppenum) {
        return E_INVALIDARG;
    }
    *ppenum = nullptr;
    try {
        *ppenum = win::ComPtr<IEnumString>(new TStringsEnumerator(names_, position_)).detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ---- TUnkEnumerator ------------------------------------------------------------------------

win::ComPtr<IEnumUnknown> TUnkEnumerator::Create(std::vector<win::ComPtr<IUnknown>> objects) {
    auto shared = std::make_shared<const std::vector<win::ComPtr<IUnknown>>>(std::move(objects));
    return win::ComPtr<IEnumUnknown>(new TUnkEnumerator(std::move(shared), 0));
}

HRESULT TUnkEnumerator::Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) noexcept {
    if (pceltFetched) {
        *pceltFetched = 0;
    }
    if (celt == 0) {
        return S_OK;
    }
    if (!rgelt) {
        return E_INVALIDARG;
    }
    const auto& objects = *objects_;
    ULONG handed = 0;
    while (handed < celt && position_ + handed < objects.size()) {
        IUnknown* object = objects[position_ + handed].get();
        object->AddRef();
        rgelt[handed] = object;
        ++handed;
    }
    position_ += handed;
    if (pceltFetched) {
        *pceltFetched = handed;
    }
    return handed == celt ? S_OK : S_FALSE;
}

HRESULT TUnkEnumerator::Skip(ULONG celt) noexcept {
    return SkipWithin(position_, objects_->size(), celt);
}

HRESULT TUnkEnumerator::Reset() noexcept {
    position_ = 0;
    return S_OK;
}

HRESULT TUnkEnumerator::Clone(IEnumUnknown** ppenum) noexcept {
    if (!ppenum) {
        return E_INVALIDARG;
    }
    *ppenum = nullptr;
    try {
        *ppenum = win::ComPtr<IEnumUnknown>(new TUnkEnumerator(objects_, position_)).detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace porvex::opc
