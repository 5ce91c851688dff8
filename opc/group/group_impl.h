// TGroupImpl: a client's subscription. A set of items, an update rate, an active flag and a
// percent deadband; a periodic tick on the engine window finds the items whose value or
// quality changed and sends them to the client's IOPCDataCallback.
//
// Lifetime. The client's group list owns the group; COM references count on the group
// itself. RemoveGroup of a referenced group (without force) takes it out of the list and
// marks it removed: it keeps working for the references and goes with the last of them.
// RemoveGroup with force, and the client's server object going, make the group leave its
// server at once (timer stopped, items destroyed, sinks released, handle dropped); the
// object stays valid, answering E_FAIL or OPC_E_INVALIDHANDLE, until its last reference
// goes.
#pragma once

#include <windows.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "opc/com/client_ptr.h"
#include "opc/com/engine_object.h"
#include "opc/group/group_extension.h"
#include "opc/group/group_item.h"
#include "opc/group/group_owner.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/server/connection_point.h"
#include "opc/server/engine_objects.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::opc {

class TOpcItemServer;

class TGroupImpl final
    : public TEngineObject<
          win::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IConnectionPointContainer>>,
      public TEngineGroup {
  public:
    struct TSettings {
        std::wstring name;
        bool active = false;
        DWORD requested_rate = 0;
        DWORD client_handle = 0;
        LONG time_bias = 0;
        float deadband = 0.0f;
        LCID locale_id = 0;
    };

    // Makes a group in owner's list (unreferenced, owned by the list). EOpcError for a
    // duplicate name (OPC_E_DUPLICATENAME), a bad deadband (E_INVALIDARG) or a refused
    // timer (E_FAIL); nothing of the group remains then.
    static TGroupImpl& Create(TGroupOwner& owner, const TSettings& settings);
    // The live group of a server handle, or null.
    static TGroupImpl* Find(TOpcItemServer& server, OPCHANDLE handle) noexcept;

    // IOPCItemMgt
    HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                       OPCITEMRESULT** ppAddResults,
                                       HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                            OPCITEMRESULT** ppValidationResults,
                                            HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                          HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                               OPCHANDLE* phClient,
                                               HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                           VARTYPE* pRequestedDatatypes,
                                           HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) noexcept override;

    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup,
                                       OPCHANDLE* phServerGroup) noexcept override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                       BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD* pLCID, OPCHANDLE* phClientGroup) noexcept override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) noexcept override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid,
                                         LPUNKNOWN* ppUnk) noexcept override;

    // IOPCSyncIO
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues,
                                   HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) noexcept override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE
    EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid,
                                                  IConnectionPoint** ppCP) noexcept override;

    // TGroupInfo
    int ItemCount() const override;
    TGroupItemInfo& ItemAt(int index) const override;

    // ---- Engine ---------------------------------------------------------------------------
    OPCHANDLE ServerHandle() const noexcept { return handle_; }
    TGroupOwner* OwnerServer() const noexcept { return owner_; }
    // The item server; EOpcServer "OPCSERV: No item server" once the group left it.
    TOpcItemServer& Server() const;
    bool Detached() const noexcept { return detached_; }

    // TEngineGroup: one update tick reports the changed items of an active group.
    void Tick() override;
    // Sends the items (read from source) to the data callback, when one is connected and
    // the group is active; a failing callback goes to GroupCallbackFailed with kind 0.
    void DeliverDataChange(OPCDATASOURCE source, DWORD transactionId,
                           std::span<TGroupItemImpl* const> items);

    // The group item named by a client's server handle (soStrictHandles: only this
    // group's), or null; ValidateItem raises OPC_E_INVALIDHANDLE instead of null.
    TGroupItemImpl* FindItem(OPCHANDLE handle) const noexcept;
    TGroupItemImpl& ValidateItem(OPCHANDLE handle) const;
    // Writes one item: write right, conversion to the canonical type, SetItemValue.
    void WriteItem(TGroupItemImpl& item, const VARIANT& value);
    std::vector<OPCHANDLE> ActiveItemHandles() const;
    TClientPtr<IOPCDataCallback> DataCallback() const { return data_callback_; }
    void SetEnabled(bool enabled) noexcept { enabled_ = enabled; }
    // A client callback failed: GroupCallbackFailed(error, this group, kind). When the error
    // says the client is gone (IsClientGone) and the callback was the data callback (kinds
    // 0-2), the group drops that sink, so its ticks stop calling a dead client.
    void ReportCallbackFailure(HRESULT error, int kind) noexcept;
    // Releases the data callback as if the client had unadvised it.
    void DropDataCallback() noexcept;
    TGroupExtension* Extension() const noexcept { return extension_.get(); }

    // A reference the engine holds on the group while it runs work for it or calls out to
    // the client, who may remove or release the group meanwhile. Taken and dropped under
    // the engine lock; RemoveGroup does not count these as the client's references.
    class TEngineHold {
      public:
        explicit TEngineHold(TGroupImpl& group) noexcept;
        ~TEngineHold();
        TEngineHold(const TEngineHold&) = delete;
        TEngineHold& operator=(const TEngineHold&) = delete;

      private:
        TGroupImpl& group_;
    };
    // References held by clients (and by the objects handed to them, such as enumerators).
    LONG ClientReferences() const noexcept { return references() - engine_holds_; }

    // RemoveGroup could not destroy the group: it is out of its client's list.
    void MarkRemoved() noexcept;
    // The group leaves its server now; freed here when nothing references it.
    void Destroy() noexcept;

  protected:
    void final_release() noexcept override;
    void* query_extra(REFIID riid) noexcept override;

  private:
    explicit TGroupImpl(TGroupOwner& owner);
    ~TGroupImpl() override;

    void Initialise(const TSettings& settings);
    HRESULT CallbackAdvised(IUnknown* sink, bool advise);
    void SetUpdateRate(DWORD requested);
    void SetDeadband(float deadband);
    void SetGroupActive(bool active);
    // A group item for a definition, appended to this group and announced; the results
    // filled. EOpcError on failure with nothing left behind.
    void AddOneItem(const OPCITEMDEF& definition, OPCITEMRESULT& result);
    // Takes the item out of its server item, drops its handle and frees it.
    void DestroyItem(std::unique_ptr<TGroupItemImpl> item) noexcept;
    void CheckNotRemoved() const;

    TGroupOwner* owner_;
    TOpcItemServer* server_;
    OPCHANDLE handle_ = 0;
    std::vector<std::unique_ptr<TGroupItemImpl>> items_;
    TConnectionPoint callback_point_;
    TClientPtr<IOPCDataCallback> data_callback_;
    std::unique_ptr<TGroupExtension> extension_;
    bool timer_running_ = false;
    bool group_added_sent_ = false;
    bool detached_ = false;
    bool destroying_ = false;
    LONG engine_holds_ = 0;  // TEngineHold
    // Reused by every tick, so a tick with no change allocates nothing.
    std::vector<TGroupItemImpl*> changed_;
    win::Variant scratch_;
};

}  // namespace porvex::opc
