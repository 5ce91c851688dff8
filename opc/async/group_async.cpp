// The group extension of the asynchronous module: the pending list, the DA 1.0 sinks, the
// hooks the group calls, and the DA 1.0 blocks sent to the sinks.
#include "opc/async/group_async.h"

#include <atomic>

#include "opc/async/data_stream.h"
#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/group/group_impl.h"
#include "opc/items/server_item.h"
#include "opc/server/item_server.h"
#include "win/task_memory.h"

namespace porvex::opc {
namespace {

std::atomic<DWORD> next_transaction{1};
std::atomic<DWORD> probe_interval_ms{5000};

// An interface ID no sink implements: asking a proxy for it goes to the client's process,
// so the answer tells whether that process can still be reached.
constexpr IID kProbeIid = {
    0xCCBCE515, 0xED2D, 0x492C, {0x8D, 0xE0, 0xCB, 0xCB, 0xDF, 0x5C, 0x7A, 0xA2}};

// A proxy answers IClientSecurity itself; objects of this process do not.
bool IsProxy(IUnknown* object) noexcept {
    win::ComPtr<IClientSecurity> security;
    return SUCCEEDED(
        object->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(security.put())));
}

}  // namespace

void SetSinkProbeInterval(DWORD milliseconds) noexcept { probe_interval_ms.store(milliseconds); }

void InstallAsyncIO(TOpcItemServer& server) {
    RegisterStreamFormats();
    server.SetGroupExtensionFactory([](TGroupImpl& group) -> std::unique_ptr<TGroupExtension> {
        return std::make_unique<TGroupAsync>(group);
    });
}

TGroupAsync::~TGroupAsync() { OrphanPending(); }

// ---- Identity ------------------------------------------------------------------------------

void* TGroupAsync::QueryInterface(REFIID riid) noexcept {
    if (IsEqualIID(riid, IID_IOPCAsyncIO2)) {
        return static_cast<IOPCAsyncIO2*>(this);
    }
    if (IsEqualIID(riid, IID_IOPCAsyncIO)) {
        return static_cast<IOPCAsyncIO*>(this);
    }
    if (IsEqualIID(riid, IID_IDataObject)) {
        return static_cast<IDataObject*>(this);
    }
    return nullptr;
}

HRESULT TGroupAsync::QueryInterface(REFIID riid, void** object) noexcept {
    return group_.QueryInterface(riid, object);
}

ULONG TGroupAsync::AddRef() noexcept { return group_.AddRef(); }

ULONG TGroupAsync::Release() noexcept { return group_.Release(); }

// ---- Hooks of the group --------------------------------------------------------------------

void TGroupAsync::DataCallbackChanged(bool advised) {
    if (!advised) {
        return;
    }
    // A client that advises gets the device values of the active items, as if it had
    // asked for a refresh.
    RefreshOnAdvise(L"IOPCDataCallback", [&] {
        QueueRefresh2(OPC_DS_DEVICE, 0, true);
        // That report carries the changes marked so far. A tick that runs before it (one
        // already waiting for the engine lock on the window's thread, in the multithreaded
        // apartment) must not send them first, or the client gets them twice. A DA 1.0 data
        // sink takes its changes from the same marks and keeps them.
        if (!HasSink(sfData) && !HasSink(sfDataTime)) {
            for (TGroupItemImpl* item : ItemsStillInGroup(group_.ActiveItemHandles())) {
                item->ClearChanged();
            }
        }
    });
}

void TGroupAsync::RefreshOnAdvise(const wchar_t* connection,
                                  const std::function<void()>& queue_refresh) noexcept {
    try {
        if (!group_.Active() || group_.ActiveItemHandles().empty()) {
            return;  // a group with nothing to report sends nothing
        }
        queue_refresh();
    } catch (...) {
        // The advise itself stands; the client only misses its first values, and the
        // operator learns why.
        try {
            LogLine(L"group \"" + group_.Name() + L"\": the first values for a new " + connection +
                    L" connection were not sent: " + DescribeException(std::current_exception()));
        } catch (...) {
        }
    }
}

bool TGroupAsync::WantsItemsChanged() const noexcept {
    return HasSink(sfData) || HasSink(sfDataTime);
}

void TGroupAsync::ItemsChanged(std::span<const OPCHANDLE> handles) {
    for (int format : {sfData, sfDataTime}) {
        // Found again for each sink: the one before may have removed items during its call.
        if (HasSink(format) && !group_.Detached()) {
            SendStreamChange(format, OPC_DS_CACHE, 0, ItemsStillInGroup(handles),
                             ckStreamDataChange);
        }
    }
}

void TGroupAsync::GroupRemoved() noexcept { OrphanPending(); }

void TGroupAsync::GroupLeaving() noexcept {
    OrphanPending();
    for (auto& sink : sinks_) {
        sink.reset();
    }
}

// ---- The pending list ----------------------------------------------------------------------

DWORD TGroupAsync::Queue(std::unique_ptr<TAsyncTask> task) {
    DWORD id = 0;
    do {
        id = next_transaction.fetch_add(1);
    } while (id == 0 || pending_.count(id) != 0);
    task->SetId(id);
    TAsyncTask& queued = *task;
    pending_.emplace(id, &queued);
    try {
        group_.Server().Window().Post(std::move(task));
    } catch (...) {
        pending_.erase(id);
        throw;
    }
    return id;
}

void TGroupAsync::Forget(TAsyncTask& task) noexcept {
    auto it = pending_.find(task.Id());
    if (it != pending_.end() && it->second == &task) {
        pending_.erase(it);
    }
}

HRESULT TGroupAsync::CancelPending(DWORD id) noexcept {
    auto it = pending_.find(id);
    if (it == pending_.end()) {
        return E_FAIL;
    }
    it->second->Kill();
    pending_.erase(it);
    return S_OK;
}

void TGroupAsync::OrphanPending() noexcept {
    for (auto& [id, task] : pending_) {
        task->Kill();
    }
    pending_.clear();
}

DWORD TGroupAsync::QueueRefresh2(OPCDATASOURCE source, DWORD transactionId, bool initialReport) {
    std::vector<OPCHANDLE> items = group_.ActiveItemHandles();
    if (!group_.Active() || items.empty()) {
        throw EOpcError(E_FAIL);
    }
    return Queue(std::make_unique<TRefreshTask>(*this, transactionId, source, std::move(items),
                                                initialReport));
}

DWORD TGroupAsync::QueueRefresh1(DWORD connection, OPCDATASOURCE source) {
    std::vector<OPCHANDLE> items = group_.ActiveItemHandles();
    if (!group_.Active() || items.empty()) {
        throw EOpcError(E_FAIL);
    }
    return Queue(std::make_unique<TRefreshTask1>(*this, connection, source, std::move(items)));
}

// ---- Checks shared by the interfaces -------------------------------------------------------

void TGroupAsync::CheckUsable() const {
    if (group_.Removed() || group_.Detached()) {
        throw EOpcError(E_FAIL);
    }
}

void TGroupAsync::CheckDataCallback() const {
    if (!group_.DataCallback()) {
        throw EOpcError(CONNECT_E_NOCONNECTION);
    }
}

void TGroupAsync::CheckConnection(DWORD connection) const {
    if (connection >= static_cast<DWORD>(kStreamFormatCount) || !sinks_[connection]) {
        throw EOpcError(CONNECT_E_NOCONNECTION);
    }
}

win::TaskArray<HRESULT> TGroupAsync::AcceptedErrors(DWORD count) {
    win::TaskArray<HRESULT> errors(count);
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = S_OK;
    }
    return errors;
}

bool TGroupAsync::StringNull() const { return group_.Server().HasOption(soStreamStringNull); }

bool TGroupAsync::HasSink(int format) const noexcept {
    return format >= 0 && format < kStreamFormatCount && sinks_[format];
}

std::vector<TGroupItemImpl*> TGroupAsync::ItemsStillInGroup(
    std::span<const OPCHANDLE> handles) const {
    std::vector<TGroupItemImpl*> items;
    items.reserve(handles.size());
    for (OPCHANDLE handle : handles) {
        TGroupItemImpl* item = group_.FindItem(handle);
        if (item && &item->OwnerGroup() == &group_) {
            items.push_back(item);
        }
    }
    return items;
}

// ---- DA 1.0 blocks -------------------------------------------------------------------------

void TGroupAsync::SendStreamChange(int format, OPCDATASOURCE source, DWORD transactionId,
                                   std::span<TGroupItemImpl* const> items, int kind) {
    if (!HasSink(format) || !group_.Active() || group_.Detached() || items.empty()) {
        return;
    }
    std::vector<TStreamItem> entries(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        TGroupItemImpl& item = *items[i];
        TStreamItem& entry = entries[i];
        entry.client_handle = item.ClientHandle();
        try {
            TItemReading reading = item.Read(source);
            entry.quality = reading.quality;
            entry.time = reading.time;
            entry.value = std::move(reading.value);
        } catch (...) {
            entry.quality = OPC_QUALITY_BAD;
            entry.time = FILETIME{};
            entry.value.clear();
        }
    }
    SendBlock(format,
              BuildDataChangeBlock(format, StringNull(), group_.ClientGroupHandle(), transactionId,
                                   entries),
              kind);
}

void TGroupAsync::SendBlock(int format, win::UniqueHglobal block, int kind) {
    TClientPtr<IAdviseSink> sink = HasSink(format) ? sinks_[format] : nullptr;
    if (!sink) {
        return;
    }
    FORMATETC description{};
    description.cfFormat = StreamClipFormat(format);
    description.ptd = nullptr;
    description.dwAspect = DVASPECT_CONTENT;
    description.lindex = -1;
    description.tymed = TYMED_HGLOBAL;
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block.get();
    medium.pUnkForRelease = nullptr;
    // The client may unadvise or remove the group during the call.
    const TGroupImpl::TEngineHold hold(group_);
    {
        const TEngineUnlock unlocked;  // the client may call the server meanwhile
        sink->OnDataChange(&description, &medium);
    }
    // The block stays the engine's: the sink had to copy what it needed during the call.
    block.reset();
    ProbeSink(format, kind);
}

void TGroupAsync::ProbeSink(int format, int kind) noexcept {
    TClientPtr<IAdviseSink> sink = HasSink(format) ? sinks_[format] : nullptr;
    if (!sink || !IsProxy(sink.get())) {
        return;
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD interval = probe_interval_ms.load();
    if (interval != 0 && last_probe_[format] != 0 && now - last_probe_[format] < interval) {
        return;
    }
    last_probe_[format] = now;
    win::ComPtr<IUnknown> answer;
    HRESULT hr = S_OK;
    {
        const TEngineUnlock unlocked;  // a call to the client's process like any other
        hr = sink->QueryInterface(kProbeIid, reinterpret_cast<void**>(answer.put()));
        answer.reset();
    }
    if (IsClientGone(hr) && sinks_[format].get() == sink.get()) {
        sinks_[format].reset();
        group_.ReportCallbackFailure(hr, kind);
    }
}

}  // namespace porvex::opc
