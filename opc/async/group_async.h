// TGroupAsync: the asynchronous side of a group, installed as its group extension
// (opc/group/group_extension.h). On the group's identity it answers
//   IOPCAsyncIO2  reads, writes and refreshes completed through the IOPCDataCallback sink,
//                 cancel, and the enable flag that gates the tick's OnDataChange;
//   IOPCAsyncIO   the same for OPC DA 1.0 clients, completed as data-object blocks;
//   IDataObject   the DA 1.0 advise sinks, one per stream format.
// It keeps the group's pending transactions (opc/async/async_task.h) and its advise sinks,
// queues the refresh a client gets when it advises, and sends the DA 1.0 change blocks of
// the update tick. Everything runs on the engine thread.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "opc/async/async_task.h"
#include "opc/async/stream_formats.h"
#include "opc/com/client_ptr.h"
#include "opc/group/group_extension.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_ptr.h"
#include "win/global_memory.h"
#include "win/task_memory.h"

namespace porvex::opc {

class TGroupImpl;
class TOpcItemServer;

class TGroupAsync final : public TGroupExtension,
                          public IOPCAsyncIO2,
                          public IOPCAsyncIO,
                          public IDataObject {
  public:
    explicit TGroupAsync(TGroupImpl& group) noexcept : group_(group) {}
    ~TGroupAsync() override;

    // TGroupExtension
    void* QueryInterface(REFIID riid) noexcept override;
    void DataCallbackChanged(bool advised) override;
    bool WantsItemsChanged() const noexcept override;
    void ItemsChanged(std::span<const OPCHANDLE> handles) override;
    void GroupRemoved() noexcept override;
    void GroupLeaving() noexcept override;

    // IUnknown: the group's identity.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // IOPCAsyncIO2
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD dwTransactionID, DWORD* pdwCancelID,
                                    HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) noexcept override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) noexcept override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) noexcept override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) noexcept override;

    // IOPCAsyncIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                   OPCHANDLE* phServer, DWORD* pTransactionID,
                                   HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                    VARIANT* pItemValues, DWORD* pTransactionID,
                                    HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                      DWORD* pTransactionID) noexcept override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) noexcept override;

    // IDataObject
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn,
                                      STGMEDIUM* pmedium) noexcept override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc,
                                          STGMEDIUM* pmedium) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) noexcept override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                    FORMATETC* pformatetcOut) noexcept override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                      BOOL fRelease) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                            IEnumFORMATETC** ppenumFormatEtc) noexcept override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection) noexcept override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) noexcept override;

    // ---- For the transactions ---------------------------------------------------------------
    TGroupImpl& Group() const noexcept { return group_; }
    // A transaction taken from the queue leaves the pending list before it runs.
    void Forget(TAsyncTask& task) noexcept;
    // The DA 1.0 change of stream format sfData or sfDataTime: the items read from source
    // (the tick: cache) sent to that format's sink when there is one and the group is
    // active. A failing sink is reported with kind.
    void SendStreamChange(int format, OPCDATASOURCE source, DWORD transactionId,
                          std::span<TGroupItemImpl* const> items, int kind);
    // Sends a finished block to the sink of format (when there is one); a sink that cannot
    // be reached any more is dropped and reported with kind.
    void SendBlock(int format, win::UniqueHglobal block, int kind);
    bool HasSink(int format) const noexcept;
    // The group's items still in it among a snapshot of handles, in the snapshot's order.
    std::vector<TGroupItemImpl*> ItemsStillInGroup(std::span<const OPCHANDLE> handles) const;
    bool StringNull() const;

  private:
    // Appends the task to the pending list and posts it; its identity.
    DWORD Queue(std::unique_ptr<TAsyncTask> task);
    // Takes a pending transaction out and marks it cancelled: S_OK, or E_FAIL when it is
    // not pending in this group.
    HRESULT CancelPending(DWORD id) noexcept;
    // Marks every pending transaction orphaned and forgets them.
    void OrphanPending() noexcept;
    // Queues a version 2 refresh of the active items; EOpcError E_FAIL for an inactive group
    // or one without an active item.
    DWORD QueueRefresh2(OPCDATASOURCE source, DWORD transactionId, bool initialReport = false);
    DWORD QueueRefresh1(DWORD connection, OPCDATASOURCE source);
    // Runs queue_refresh for a client that just advised, unless the group has nothing to
    // report; a failure is logged (the engine's log), never passed to the advise.
    void RefreshOnAdvise(const wchar_t* connection,
                         const std::function<void()>& queue_refresh) noexcept;
    // E_FAIL when the client removed the group or it left its server.
    void CheckUsable() const;
    // CONNECT_E_NOCONNECTION without an IOPCDataCallback.
    void CheckDataCallback() const;
    // CONNECT_E_NOCONNECTION for a connection outside 0..2 or without a sink.
    void CheckConnection(DWORD connection) const;
    // The per-item error array of an accepted DA 1.0 request: all S_OK. A call that
    // succeeds hands out every [out] array of its signature; a client may read it unchecked.
    static win::TaskArray<HRESULT> AcceptedErrors(DWORD count);
    // The handles of a DA 2.0 read or write: OPC_E_INVALIDHANDLE in errors for those the
    // group does not hold (S_OK for the others); the valid ones, in order.
    std::vector<OPCHANDLE> CheckHandles(DWORD count, const OPCHANDLE* handles,
                                        win::TaskArray<HRESULT>& errors) const;
    // Checks that the sink of format can still be reached; drops it when not.
    void ProbeSink(int format, int kind) noexcept;

    TGroupImpl& group_;
    std::map<DWORD, TAsyncTask*> pending_;
    TClientPtr<IAdviseSink> sinks_[kStreamFormatCount];
    ULONGLONG last_probe_[kStreamFormatCount] = {};
};

// Makes every group of the item server answer the asynchronous interfaces, and registers
// the stream formats (EOpcServer when the system refuses one). RegisterOpcServer does it.
void InstallAsyncIO(TOpcItemServer& server);

// How often (in milliseconds) a DA 1.0 advise sink in another process is checked for being
// still reachable; its calls report nothing back, so a client that went would otherwise be
// sent blocks until its server objects are released. 0 checks after every block.
void SetSinkProbeInterval(DWORD milliseconds) noexcept;

}  // namespace porvex::opc
