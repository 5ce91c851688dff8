// Enumerators handed to clients: IEnumString over names (browsing, group names) and
// IEnumUnknown over objects (groups). Clones share the list and start at the same position.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc {

class TStringsEnumerator final : public win::ComObject<IEnumString> {
  public:
    using TNames = std::shared_ptr<const std::vector<std::wstring>>;
    static win::ComPtr<IEnumString> Create(std::vector<std::wstring> names);

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt,
                                   ULONG* pceltFetched) noexcept override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) noexcept override;

  private:
    TStringsEnumerator(TNames names, std::size_t position)
        : names_(std::move(names)), position_(position) {}

    TNames names_;
    std::size_t position_;
};

class TUnkEnumerator final : public win::ComObject<IEnumUnknown> {
  public:
    using TObjects = std::shared_ptr<const std::vector<win::ComPtr<IUnknown>>>;
    static win::ComPtr<IEnumUnknown> Create(std::vector<win::ComPtr<IUnknown>> objects);

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt,
                                   ULONG* pceltFetched) noexcept override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown** ppenum) noexcept override;

  private:
    TUnkEnumerator(TObjects objects, std::size_t position)
        : objects_(std::move(objects)), position_(position) {}

    TObjects objects_;
    std::size_t position_;
};

}  // namespace porvex::opc
