// What each asynchronous transaction does when it runs.
#include "opc/async/async_task.h"

#include "opc/async/data_stream.h"
#include "opc/async/group_async.h"
#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/group/group_impl.h"
#include "opc/items/item_types.h"
#include "opc/items/server_item.h"
#include "opc/server/types.h"
#include "win/com_ptr.h"

namespace porvex::opc {
namespace {

// Master quality and master error of a completion: S_FALSE when any item's quality is not
// good or any item failed.
HRESULT MasterQuality(const std::vector<WORD>& qualities) {
    for (WORD q : qualities) {
        if (q != kQualityGood) {
            return S_FALSE;
        }
    }
    return S_OK;
}

HRESULT MasterError(const std::vector<HRESULT>& errors) {
    for (HRESULT e : errors) {
        if (e != S_OK) {
            return S_FALSE;
        }
    }
    return S_OK;
}

}  // namespace

void TAsyncTask::Run() {
    if (dead_) {
        return;
    }
    owner_->Forget(*this);
    // The client may release or force-remove the group while one of our calls into it is
    // under way: the group object stays until this reference goes.
    const TGroupImpl::TEngineHold hold(Group());
    Execute();
}

TGroupImpl& TAsyncTask::Group() const noexcept { return owner_->Group(); }

// ---- Version 2 ---------------------------------------------------------------------------

void TRefreshTask::Execute() {
    const std::vector<TGroupItemImpl*> items = Owner().ItemsStillInGroup(items_);
    // The advise-time report carries the items' values as of now: a change marked before
    // it (the activation read of AddItems) is in it and must not come again with the next
    // tick. A change marked after this line still does. A DA 1.0 data sink of the group
    // takes its changes from the same marks and keeps them.
    if (initial_report_ && !Owner().HasSink(sfData) && !Owner().HasSink(sfDataTime)) {
        for (TGroupItemImpl* item : items) {
            item->ClearChanged();
        }
    }
    Group().DeliverDataChange(source_, ClientTransactionId(), items);
}

void TAsyncReadTask::Execute() {
    TGroupImpl& group = Group();
    const std::size_t count = handles_.size();
    std::vector<OPCHANDLE> client_handles(count);
    std::vector<win::Variant> values(count);
    std::vector<WORD> qualities(count, OPC_QUALITY_BAD);
    std::vector<FILETIME> times(count);
    std::vector<HRESULT> errors(count, S_OK);
    for (std::size_t i = 0; i < count; ++i) {
        try {
            TGroupItemImpl& item = group.ValidateItem(handles_[i]);
            client_handles[i] = item.ClientHandle();
            TItemReading reading = item.Read(OPC_DS_DEVICE);
            values[i] = std::move(reading.value);
            qualities[i] = reading.quality;
            times[i] = reading.time;
        } catch (...) {
            errors[i] = ResultOfException(std::current_exception());
            qualities[i] = OPC_QUALITY_BAD;
        }
    }
    TClientPtr<IOPCDataCallback> callback = group.DataCallback();
    if (!callback) {
        return;
    }
    static_assert(sizeof(win::Variant) == sizeof(VARIANT));
    HRESULT hr = S_OK;
    {
        const TEngineUnlock unlocked;  // the client may call the server meanwhile
        hr = callback->OnReadComplete(ClientTransactionId(), group.ClientGroupHandle(),
                                      MasterQuality(qualities), MasterError(errors),
                                      static_cast<DWORD>(count), client_handles.data(),
                                      reinterpret_cast<VARIANT*>(values.data()), qualities.data(),
                                      times.data(), errors.data());
    }
    if (FAILED(hr)) {
        group.ReportCallbackFailure(hr, ckReadComplete);
    }
}

void TAsyncWriteTask::WriteAll(std::vector<OPCHANDLE>& clientHandles,
                               std::vector<HRESULT>& errors) {
    TGroupImpl& group = Group();
    const std::size_t count = handles_.size();
    clientHandles.assign(count, 0);
    errors.assign(count, S_OK);
    for (std::size_t i = 0; i < count; ++i) {
        try {
            TGroupItemImpl& item = group.ValidateItem(handles_[i]);
            clientHandles[i] = item.ClientHandle();
            group.WriteItem(item, values_[i].value());
        } catch (...) {
            errors[i] = ResultOfException(std::current_exception());
        }
    }
}

void TAsyncWriteTask::Execute() {
    std::vector<OPCHANDLE> client_handles;
    std::vector<HRESULT> errors;
    WriteAll(client_handles, errors);
    TGroupImpl& group = Group();
    TClientPtr<IOPCDataCallback> callback = group.DataCallback();
    if (!callback) {
        return;
    }
    HRESULT hr = S_OK;
    {
        const TEngineUnlock unlocked;  // the client may call the server meanwhile
        hr = callback->OnWriteComplete(
            ClientTransactionId(), group.ClientGroupHandle(), MasterError(errors),
            static_cast<DWORD>(client_handles.size()), client_handles.data(), errors.data());
    }
    if (FAILED(hr)) {
        group.ReportCallbackFailure(hr, ckWriteComplete);
    }
}

// ---- Version 1 ---------------------------------------------------------------------------

void TRefreshTask1::Execute() {
    // The write-complete connection carries no data: a refresh asked on it sends nothing.
    if (connection_ != sfData && connection_ != sfDataTime) {
        return;
    }
    const std::vector<TGroupItemImpl*> items = Owner().ItemsStillInGroup(items_);
    Owner().SendStreamChange(static_cast<int>(connection_), source_, Id(), items,
                             ckStreamDataChange);
}

void TAsyncReadTask1::Execute() {
    // As for refreshes: nothing is read for the write-complete connection.
    if (connection_ != sfData && connection_ != sfDataTime) {
        return;
    }
    const int format = static_cast<int>(connection_);
    if (!Owner().HasSink(format)) {
        return;
    }
    TGroupImpl& group = Group();
    std::vector<TStreamItem> entries(handles_.size());
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        TStreamItem& entry = entries[i];
        try {
            TGroupItemImpl& item = group.ValidateItem(handles_[i]);
            entry.client_handle = item.ClientHandle();
            item.Shared().CheckReadable();
            TItemReading reading = item.Read(source_);
            entry.quality = reading.quality;
            entry.time = reading.time;
            entry.value = std::move(reading.value);
        } catch (...) {
            entry.quality = OPC_QUALITY_BAD;
            entry.time = FILETIME{};
            entry.value.clear();
        }
    }
    Owner().SendBlock(format,
                      BuildDataChangeBlock(format, Owner().StringNull(), group.ClientGroupHandle(),
                                           Id(), entries),
                      ckStreamReadComplete);
}

void TAsyncWriteTask1::Execute() {
    std::vector<OPCHANDLE> client_handles;
    std::vector<HRESULT> errors;
    WriteAll(client_handles, errors);
    if (!Owner().HasSink(sfWriteComplete)) {
        return;
    }
    std::vector<TWriteResult> results(client_handles.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        results[i].client_handle = client_handles[i];
        results[i].error = errors[i];
    }
    Owner().SendBlock(sfWriteComplete,
                      BuildWriteCompleteBlock(Group().ClientGroupHandle(), Id(), results),
                      ckStreamWriteComplete);
}

}  // namespace porvex::opc
