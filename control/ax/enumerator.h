// A COM enumerator over a snapshot of items (IEnumConnectionPoints, IEnumConnections,
// IEnumOLEVERB). Traits say how an item is held and how a copy goes to the caller:
//   static void hold(Item&)                 the snapshot's own reference
//   static void release(Item&)
//   static HRESULT copy_out(const Item&, Item*)   the caller's copy
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "module.h"

namespace tarnet::ax {

template <class IEnum, class Item, class Traits>
class Enumerator final : public IEnum {
  public:
    static HRESULT create(const IID& iid, std::vector<Item> items, IEnum** out) {
        if (out == nullptr) {
            return E_POINTER;
        }
        auto shared = std::make_shared<Snapshot>(std::move(items));
        *out = new (std::nothrow) Enumerator(iid, std::move(shared), 0);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == iid_) {
            *out = static_cast<IEnum*>(this);
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

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
        if (out == nullptr || (count != 1 && fetched == nullptr)) {
            return E_POINTER;
        }
        ULONG n = 0;
        while (n < count && pos_ < snapshot_->items.size()) {
            const HRESULT hr = Traits::copy_out(snapshot_->items[pos_], &out[n]);
            if (FAILED(hr)) {
                break;
            }
            ++pos_;
            ++n;
        }
        if (fetched != nullptr) {
            *fetched = n;
        }
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = snapshot_->items.size() - pos_;
        const std::size_t skip = count < left ? count : left;
        pos_ += skip;
        return skip == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = new (std::nothrow) Enumerator(iid_, snapshot_, pos_);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

  private:
    struct Snapshot {
        explicit Snapshot(std::vector<Item> from) : items(std::move(from)) {
            for (auto& item : items) {
                Traits::hold(item);
            }
        }
        ~Snapshot() {
            for (auto& item : items) {
                Traits::release(item);
            }
        }
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;
        std::vector<Item> items;
    };

    Enumerator(const IID& iid, std::shared_ptr<Snapshot> snapshot, std::size_t pos)
        : iid_(iid), snapshot_(std::move(snapshot)), pos_(pos) {}
    ~Enumerator() = default;

    const IID& iid_;
    std::shared_ptr<Snapshot> snapshot_;
    std::size_t pos_ = 0;
    std::atomic<ULONG> refs_{1};
    ModuleObject counted_;
};

}  // namespace tarnet::ax
