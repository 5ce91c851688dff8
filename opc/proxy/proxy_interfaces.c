#include "proxy_interfaces.h"

#include <rpcproxy.h>

void RPC_ENTRY GetProxyDllInfo(const ProxyFileInfo*** pInfo, const CLSID** pId);

BOOL PorvexProxyInterface(unsigned index, const IID** iid, const char** name,
                          unsigned long* methods) {
    const ProxyFileInfo** files = NULL;
    const CLSID* clsid = NULL;
    GetProxyDllInfo(&files, &clsid);
    for (; files && *files; ++files) {
        const ProxyFileInfo* file = *files;
        if (index < file->TableSize) {
            const CInterfaceStubVtbl* stub = (const CInterfaceStubVtbl*)file->pStubVtblList[index];
            *iid = stub->header.piid;
            *name = file->pNamesArray[index];
            *methods = stub->header.DispatchTableCount;
            return TRUE;
        }
        index -= file->TableSize;
    }
    return FALSE;
}
