#include "opc/server/enumerators.h"

#include "opc/com/boundary.h"
#include "opc/com/task_mem.h"

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

TComPtr<IEnumString> TStringsEnumerator::Create(std::vector<std::wstring> names) {
    auto shared = std::make_shared<const std::vector<std::wstring>>(std::move(names));
    return TComPtr<IEnumString>(new TStringsEnumerator(std::move(shared), 0));
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
            rgelt[handed] = TTaskString(names[position_ + handed]).Detach();
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
        *ppenum = TComPtr<IEnumString>(new TStringsEnumerator(names_, position_)).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ---- TUnkEnumerator ------------------------------------------------------------------------

TComPtr<IEnumUnknown> TUnkEnumerator::Create(std::vector<TComPtr<IUnknown>> objects) {
    auto shared = std::make_shared<const std::vector<TComPtr<IUnknown>>>(std::move(objects));
    return TComPtr<IEnumUnknown>(new TUnkEnumerator(std::move(shared), 0));
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
        IUnknown* object = objects[position_ + handed].Get();
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
        *ppenum = TComPtr<IEnumUnknown>(new TUnkEnumerator(objects_, position_)).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace porvex::opc
