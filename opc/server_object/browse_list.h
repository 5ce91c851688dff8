// The names a browse call lists, built from one branch of the namespace.
#pragma once

#include <string>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "opc/namespace/namespace_node.h"

namespace porvex::opc {

class TOpcItemServer;

// OPC_BRANCH: the child branches whose names pass the name mask. OPC_LEAF: the child leaves
// (unqualified names) that pass all filters. OPC_FLAT: every leaf of the subtree, depth
// first in sorted order, as fully qualified IDs that pass all filters. Every candidate goes
// through the item server's MatchesBrowseFilter (EOpcError OPC_E_INVALIDFILTER for a
// malformed mask).
std::vector<std::wstring> BuildBrowseList(TOpcItemServer& server, const TItemIdList& branch,
                                          OPCBROWSETYPE type, const std::wstring& filter,
                                          VARTYPE dataTypeFilter, TAccessRights accessFilter);

}  // namespace porvex::opc
