// The update tick of a group and the OnDataChange delivery.
#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"
#include "opc/update/delivery_counts.h"

namespace porvex::opc {

void TGroupImpl::Tick() {
    ++ticks_;
    if (!active_ || detached_) {
        return;
    }
    TOpcItemServer& server = Server();
    changed_.clear();
    // Room for every item before any change is taken, so that no change can be lost to a
    // failed allocation; once the group has its size this allocates nothing.
    changed_.reserve(items_.size());
    for (const auto& item : items_) {
        bool changed = false;
        try {
            changed = item->CheckChange(scratch_);
            item->failing = false;
        } catch (...) {
            // One item that cannot be read (no read right, a failing device) must not hold
            // back the changes of the others: it is reported once, until it reads again,
            // and the tick goes on.
            scratch_.clear();
            if (!item->failing) {
                item->failing = true;
                server.ReportException(std::current_exception());
            }
        }
        if (changed) {
            changed_.push_back(item.get());
        }
    }
    if (changed_.empty()) {
        return;
    }
    detail::count_changed(changed_.size());
    // The client may release or remove this group, or remove items, from inside its
    // callbacks, and a nested tick may reuse changed_: an extension that wants the changes
    // (a DA 1.0 data sink) gets their handles, taken before the delivery.
    const TEngineHold hold(*this);
    std::vector<OPCHANDLE> changed_handles;
    if (extension_ && extension_->WantsItemsChanged()) {
        changed_handles.reserve(changed_.size());
        for (const TGroupItemImpl* item : changed_) {
            changed_handles.push_back(item->ServerHandle());
        }
    }
    if (data_callback_ && enabled_) {
        DeliverDataChange(OPC_DS_CACHE, 0, changed_);
    }
    changed_.clear();
    if (!changed_handles.empty() && extension_ && !detached_) {
        extension_->ItemsChanged(changed_handles);
    }
}

void TGroupImpl::DeliverDataChange(OPCDATASOURCE source, DWORD transactionId,
                                   std::span<TGroupItemImpl* const> items) {
    TClientPtr<IOPCDataCallback> callback = data_callback_;
    if (!callback || !active_ || detached_ || items.empty()) {
        return;
    }
    const std::size_t count = items.size();
    std::vector<OPCHANDLE> handles(count);
    std::vector<win::Variant> values(count);
    std::vector<WORD> qualities(count);
    std::vector<FILETIME> times(count);
    std::vector<HRESULT> errors(count);
    HRESULT master_quality = S_OK;
    HRESULT master_error = S_OK;
    for (std::size_t i = 0; i < count; ++i) {
        TGroupItemImpl& item = *items[i];
        handles[i] = item.ClientHandle();
        try {
            TItemReading reading = item.Read(source);
            values[i] = std::move(reading.value);
            qualities[i] = reading.quality;
            times[i] = reading.time;
            errors[i] = S_OK;
        } catch (...) {
            errors[i] = ResultOfException(std::current_exception());
            qualities[i] = OPC_QUALITY_BAD;
        }
        if (qualities[i] != kQualityGood) {
            master_quality = S_FALSE;
        }
        if (errors[i] != S_OK) {
            master_error = S_FALSE;
        }
    }
    // win::Variant is laid out as a VARIANT: the array goes to the client as it is.
    static_assert(sizeof(win::Variant) == sizeof(VARIANT));
    const TEngineHold hold(*this);
    HRESULT hr = S_OK;
    {
        // Out to the client without the engine lock: it may call the server meanwhile.
        const TEngineUnlock unlocked;
        hr = callback->OnDataChange(transactionId, client_handle_, master_quality, master_error,
                                    static_cast<DWORD>(count), handles.data(),
                                    reinterpret_cast<VARIANT*>(values.data()), qualities.data(),
                                    times.data(), errors.data());
    }
    if (transactionId == 0) {
        detail::count_sent(count, SUCCEEDED(hr));
    }
    if (FAILED(hr)) {
        ReportCallbackFailure(hr, ckDataChange);
    } else if (owner_) {
        owner_->RefreshLastUpdate();
    }
}

}  // namespace porvex::opc
