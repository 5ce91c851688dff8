// The item server's default MatchesBrowseFilter.
#include "opc/namespace/mask.h"
#include "opc/server/item_server.h"

namespace porvex::opc {

bool TOpcItemServer::MatchesBrowseFilter(const std::wstring& filter, TAccessRights accessFilter,
                                         VARTYPE dataTypeFilter, const std::wstring& name,
                                         TAccessRights itemAccess, VARTYPE itemType) {
    if (!filter.empty() && !MatchesMask(filter, name)) {
        return false;
    }
    if (accessFilter != 0 && (accessFilter & itemAccess) == 0) {
        return false;
    }
    if (dataTypeFilter != VT_EMPTY && dataTypeFilter != itemType) {
        return false;
    }
    return true;
}

}  // namespace porvex::opc
