#include "opc/registration/register_server.h"

#include "opc/async/group_async.h"
#include "opc/com/errors.h"
#include "opc/registration/com_server.h"
#include "opc/server/item_server.h"

namespace porvex::opc {

TOpcServerFactory& RegisterOpcServer(const CLSID& clsid, int version,
                                     const std::wstring& description,
                                     std::unique_ptr<TOpcItemServer> itemServer,
                                     const std::wstring& vendor) {
    if (!itemServer) {
        throw EOpcServer(L"OPCSERV: No item server");
    }
    TComServer& com = TComServer::Required();
    InstallAsyncIO(*itemServer);
    itemServer->SetVendorInfo(description + L" " + vendor);
    std::wstring class_name;
    itemServer->GetProgIdClassName(version, class_name);
    auto factory = std::make_unique<TOpcServerFactory>(clsid, class_name, description, vendor);
    TOpcServerFactory& added = *factory;
    com.AddFactory(std::move(factory));
    com.AdoptItemServer(std::move(itemServer));
    return added;
}

}  // namespace porvex::opc
