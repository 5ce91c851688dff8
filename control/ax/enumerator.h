// A COM enumerator over a snapshot of items (IEnumConnectionPoints, IEnumConnections,
// IEnumOLEVERB). Traits say how an item is held and how a copy goes to the caller:
//   static void hold(Item&)                 the snapshot's own reference
//   static void release(Item&)
//   static HRESULT copy_out(const Item&, Item*)   the caller's copy
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <memory>
#include <new>
#include <vector>

#include "win/com_object.h"

namespace tarnet::ax {

template <class IEnum, class Item, class Traits>
class Enumerator final : public porvex::win::ComObject<IEnum> {
  public:
    static HRESULT create(std::vector<Item> items, IEnum** out) {
        if (out == nullptr) {
            return E_POINTER;
        }
        auto shared = std::make_shared<Snapshot>(std::move(items));
        return hand_out(new (std::nothrow) Enumerator(std::move(shared), 0), out);
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
        return hand_out(new (std::nothrow) Enumerator(snapshot_, pos_), out);
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

    Enumerator(std::shared_ptr<Snapshot> snapshot, std::size_t pos)
        : snapshot_(std::move(snapshot)), pos_(pos) {}
    ~Enumerator() override = default;

    // The caller's reference to a new enumerator (none when it could not be made).
    static HRESULT hand_out(Enumerator* made, IEnum** out) {
        *out = made;
        if (made == nullptr) {
            return E_OUTOFMEMORY;
        }
        made->AddRef();
        return S_OK;
    }

    std::shared_ptr<Snapshot> snapshot_;
    std::size_t pos_ = 0;
};

}  // namespace tarnet::ax
