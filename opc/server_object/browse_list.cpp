#include "opc/server_object/browse_list.h"

#include "opc/server/item_server.h"

namespace porvex::opc {
namespace {

void ListFlat(TOpcItemServer& server, const TItemIdList& branch, const std::wstring& prefix,
              const std::wstring& filter, VARTYPE dataTypeFilter, TAccessRights accessFilter,
              std::vector<std::wstring>& names) {
    const wchar_t delimiter = branch.TreeRules().delimiter;
    const int count = branch.ChildCount();
    for (int i = 0; i < count; ++i) {
        const TNamespaceNode* child = branch.ChildAt(i);
        std::wstring path = prefix;
        if (branch.Parent()) {
            path += delimiter;
        }
        path += child->Name();
        if (child->IsBranch()) {
            ListFlat(server, static_cast<const TItemIdList&>(*child), path, filter, dataTypeFilter,
                     accessFilter, names);
        } else {
            const auto& leaf = static_cast<const TNamespaceItem&>(*child);
            if (server.MatchesBrowseFilter(filter, accessFilter, dataTypeFilter, path,
                                           leaf.AccessRights(), leaf.DataType())) {
                names.push_back(std::move(path));
            }
        }
    }
}

}  // namespace

std::vector<std::wstring> BuildBrowseList(TOpcItemServer& server, const TItemIdList& branch,
                                          OPCBROWSETYPE type, const std::wstring& filter,
                                          VARTYPE dataTypeFilter, TAccessRights accessFilter) {
    std::vector<std::wstring> names;
    if (type == OPC_FLAT) {
        ListFlat(server, branch, branch.FullPath(), filter, dataTypeFilter, accessFilter, names);
        return names;
    }
    const int count = branch.ChildCount();
    for (int i = 0; i < count; ++i) {
        const TNamespaceNode* child = branch.ChildAt(i);
        if (type == OPC_BRANCH && child->IsBranch()) {
            if (server.MatchesBrowseFilter(filter, 0, VT_EMPTY, child->Name(), 0, VT_EMPTY)) {
                names.push_back(child->Name());
            }
        } else if (type == OPC_LEAF && !child->IsBranch()) {
            const auto& leaf = static_cast<const TNamespaceItem&>(*child);
            if (server.MatchesBrowseFilter(filter, accessFilter, dataTypeFilter, leaf.Name(),
                                           leaf.AccessRights(), leaf.DataType())) {
                names.push_back(leaf.Name());
            }
        }
    }
    return names;
}

}  // namespace porvex::opc
