// IOPCBrowseServerAddressSpace of the server object: the client's walk through the
// namespace. The position and the tree are used under the client-list lock, which also
// serialises rebuilds of the namespace.
#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/text.h"
#include "opc/server/enumerators.h"
#include "opc/server/item_server.h"
#include "opc/server_object/browse_list.h"
#include "opc/server_object/server_impl.h"
#include "win/task_memory.h"

namespace porvex::opc {
namespace {

TItemIdList* AsBranch(TNamespaceNode* node) {
    return node && node->IsBranch() ? static_cast<TItemIdList*>(node) : nullptr;
}

}  // namespace

HRESULT TServerImpl::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) noexcept {
    return OpcBoundary("IOPCBrowseServerAddressSpace::QueryOrganization", [&]() -> HRESULT {
        CheckOut(pNameSpaceType);
        *pNameSpaceType = Server().HasOption(soHierarchical) ? OPC_NS_HIERARCHIAL : OPC_NS_FLAT;
        return S_OK;
    });
}

HRESULT TServerImpl::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                          LPCWSTR szString) noexcept {
    return OpcBoundary("IOPCBrowseServerAddressSpace::ChangeBrowsePosition", [&]() -> HRESULT {
        TOpcItemServer& server = Server();
        if (!server.HasOption(soHierarchical)) {
            return E_FAIL;
        }
        if (dwBrowseDirection != OPC_BROWSE_UP && dwBrowseDirection != OPC_BROWSE_DOWN &&
            dwBrowseDirection != OPC_BROWSE_TO) {
            return E_INVALIDARG;
        }
        TLock lock(server.ClientListLock());
        server.EnsureNamespace(browse_position_);
        TItemIdList* root = server.NamespaceRoot();
        const bool named = szString && szString[0] != L'\0';
        switch (dwBrowseDirection) {
            case OPC_BROWSE_UP:
                if (browse_position_ == root) {
                    return E_FAIL;
                }
                browse_position_ = browse_position_->Parent();
                return S_OK;
            case OPC_BROWSE_DOWN: {
                if (!named) {
                    return E_INVALIDARG;
                }
                TItemIdList* branch = AsBranch(browse_position_->FindNode(szString));
                if (!branch) {
                    return E_INVALIDARG;
                }
                browse_position_ = branch;
                return S_OK;
            }
            default: {
                if (!named) {
                    browse_position_ = root;
                    return S_OK;
                }
                TItemIdList* branch = AsBranch(root->FindNode(szString));
                if (!branch) {
                    return E_INVALIDARG;
                }
                browse_position_ = branch;
                return S_OK;
            }
        }
    });
}

HRESULT TServerImpl::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                      VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                      LPENUMSTRING* ppIEnumString) noexcept {
    if (ppIEnumString) {
        *ppIEnumString = nullptr;
    }
    return OpcBoundary("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", [&]() -> HRESULT {
        CheckOut(ppIEnumString);
        if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF &&
            dwBrowseFilterType != OPC_FLAT) {
            return E_INVALIDARG;
        }
        if (dwAccessRightsFilter > kAccessReadWrite) {
            return E_INVALIDARG;
        }
        TOpcItemServer& server = Server();
        TLock lock(server.ClientListLock());
        server.EnsureNamespace(browse_position_);
        std::vector<std::wstring> names = BuildBrowseList(
            server, *browse_position_, dwBrowseFilterType, FromClientString(szFilterCriteria),
            vtDataTypeFilter, static_cast<TAccessRights>(dwAccessRightsFilter));
        const bool empty = names.empty();
        *ppIEnumString = TStringsEnumerator::Create(std::move(names)).detach();
        return empty ? S_FALSE : S_OK;
    });
}

HRESULT TServerImpl::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) noexcept {
    if (szItemID) {
        *szItemID = nullptr;
    }
    return OpcBoundary("IOPCBrowseServerAddressSpace::GetItemID", [&]() -> HRESULT {
        CheckOut(szItemID);
        if (!szItemDataID) {
            return S_OK;
        }
        if (szItemDataID[0] == L'\0') {
            *szItemID = win::task_string(L"").release();
            return S_OK;
        }
        TOpcItemServer& server = Server();
        TLock lock(server.ClientListLock());
        server.EnsureNamespace(browse_position_);
        TItemIdList* root = server.NamespaceRoot();
        if (server.HasOption(soHierarchical)) {
            TNamespaceNode* node = browse_position_->FindNode(szItemDataID);
            if (!node) {
                node = root->FindNode(szItemDataID);
            }
            if (!node) {
                return E_INVALIDARG;
            }
            *szItemID = win::task_string(node->FullPath()).release();
            return S_OK;
        }
        if (!root->FindNode(szItemDataID)) {
            return E_INVALIDARG;
        }
        *szItemID = win::task_string(szItemDataID).release();
        return S_OK;
    });
}

HRESULT TServerImpl::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) noexcept {
    if (ppIEnumString) {
        *ppIEnumString = nullptr;
    }
    return E_NOTIMPL;
}

}  // namespace porvex::opc
