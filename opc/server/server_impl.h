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

#include "opc/idl/opc_interfaces.h"
#include "opc/server/public_info.h"
#include "opc/server/shutdown_point.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc {

class TOpcItemServer;
class TGroupImpl;
class TItemIdList;

class TServerImpl final
    : public win::ComObject<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                            IOPCItemProperties, IConnectionPointContainer>,
      public TClientInfo {
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

    // ---- Engine ---------------------------------------------------------------------------
    // The item server; EOpcServer "OPCSERV: No item server" once it has gone.
    TOpcItemServer& Server() const;
    // The client's browse position (null for the root), under the client-list lock.
    TItemIdList*& BrowsePosition() noexcept { return browse_position_; }
    // Stamps the last update time with the item server's clock.
    void RefreshLastUpdate();

    // The client's groups by folded name.
    TGroupImpl* FindGroupByName(const std::wstring& name) const;
    bool NameInUse(const std::wstring& name) const;
    // Inserts / takes out a group of this client; EOpcError OPC_E_DUPLICATENAME for a name
    // in use.
    void InsertGroup(TGroupImpl& group);
    void TakeOutGroup(TGroupImpl& group) noexcept;
    void RenameGroup(TGroupImpl& group, const std::wstring& newName);
    // A group taken out while still referenced; it tells when its last reference goes.
    void KeepRemovedGroup(TGroupImpl& group);
    void ForgetRemovedGroup(TGroupImpl& group) noexcept;

    // Sends ShutdownRequest when a sink is advised; true when one was. A failure goes to
    // the item server's ShutdownCallbackFailed; a sink whose client is gone is dropped.
    bool RequestShutdown(const std::wstring& reason);
    // The item server is going away: the groups leave, the sink is dropped, and every later
    // call fails.
    void Detach() noexcept;

  protected:
    bool refuses(REFIID riid) const noexcept override;

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
