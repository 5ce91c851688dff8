// TServerImpl: the server object of one OPC client, its entry point. It creates and finds
// the client's groups, reports the server status, translates error codes, keeps the
// client's locale and name, carries its browse position, answers item-property queries,
// and holds the client's IOPCShutdown sink so the application can ask it to disconnect.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "opc/com/engine_object.h"
#include "opc/group/group_owner.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/server/shutdown_point.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc {

class TOpcItemServer;
class TGroupImpl;
class TItemIdList;

class TServerImpl final
    : public TEngineObject<win::ComObject<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                                          IOPCItemProperties, IConnectionPointContainer>>,
      public TGroupOwner {
  public:
    // A new server object registered with the item server (notification 1 sent).
    // EOpcServer "OPCSERV: No item server" without an item server.
    static win::ComPtr<TServerImpl> Create();

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD dwLCID,
                                       OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) noexcept override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                             LPWSTR* ppString) noexcept override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid,
                                             LPUNKNOWN* ppUnk) noexcept override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) noexcept override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) noexcept override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                    LPUNKNOWN* ppUnk) noexcept override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount,
                                                      LCID** pdwLcid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) noexcept override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) noexcept override;

    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) noexcept override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) noexcept override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                               LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                               DWORD dwAccessRightsFilter,
                                               LPENUMSTRING* ppIEnumString) noexcept override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) noexcept override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                                LPENUMSTRING* ppIEnumString) noexcept override;

    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                       DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions,
                                                       VARTYPE** ppvtDataTypes) noexcept override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs,
                                            HRESULT** ppErrors) noexcept override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE
    EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid,
                                                  IConnectionPoint** ppCP) noexcept override;

    // TClientInfo
    int GroupCount() const override;
    TGroupInfo& GroupAt(int index) const override;

    // TEngineClient
    IUnknown& ComIdentity() noexcept override { return *identity(); }
    TItemIdList*& BrowsePosition() noexcept override { return browse_position_; }
    // A failure of the shutdown sink goes to the item server's ShutdownCallbackFailed; a
    // sink whose client is gone is dropped.
    bool RequestShutdown(const std::wstring& reason) override;
    void Detach() noexcept override;

    // TGroupOwner
    TOpcItemServer& Server() const override;
    void RefreshLastUpdate() override;
    bool NameInUse(const std::wstring& name) const override;
    void InsertGroup(TGroupImpl& group) override;
    void TakeOutGroup(TGroupImpl& group) noexcept override;
    void RenameGroup(TGroupImpl& group, const std::wstring& newName) override;
    void ForgetRemovedGroup(TGroupImpl& group) noexcept override;

    // The client's groups by folded name.
    TGroupImpl* FindGroupByName(const std::wstring& name) const;
    // A group taken out while still referenced; it tells when its last reference goes.
    void KeepRemovedGroup(TGroupImpl& group);

  protected:
    bool refuses(REFIID riid) const noexcept override;
    void final_release() noexcept override;

  private:
    TServerImpl();
    ~TServerImpl() override;
    void DestroyGroups() noexcept;

    TOpcItemServer* server_ = nullptr;
    TItemIdList* browse_position_ = nullptr;
    std::map<std::wstring, TGroupImpl*> groups_;
    std::set<TGroupImpl*> removed_groups_;
    TShutdownPoint shutdown_;
};

// Creates a server object for a client (used by the class factory): riid of a new
// TServerImpl into *object.
HRESULT CreateServerObject(REFIID riid, void** object) noexcept;

}  // namespace porvex::opc
