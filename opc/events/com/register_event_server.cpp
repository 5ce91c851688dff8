#include "opc/events/com/register_event_server.h"

#include <memory>

#include "opc/events/com/event_server.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "opc/registration/com_server.h"

namespace porvex::opc::events {

TOpcServerFactory& RegisterEventServer(const CLSID& clsid, const std::wstring& className,
                                       const std::wstring& description,
                                       const std::wstring& vendor) {
    TComServer& com = TComServer::Required();
    TServerClassKind kind;
    kind.create = &CreateEventServerObject;
    kind.categories = {{CATID_OPCEventServerCATID, OPC_EVENTSERVER_CAT_DESC}};
    auto factory = std::make_unique<TOpcServerFactory>(clsid, className, description, vendor, kind);
    TOpcServerFactory& added = *factory;
    com.AddFactory(std::move(factory));
    return added;
}

}  // namespace porvex::opc::events
