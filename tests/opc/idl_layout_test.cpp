// The generated interface definitions agree with the published OPC facts: structure sizes
// and offsets on 32-bit Windows, interface IDs, enumeration values and result codes.
#include <gtest/gtest.h>

#include <cstddef>

#include "opc/idl/opc_interfaces.h"
#include "win/registry.h"

namespace {

using porvex::win::guid_text;

TEST(OpcIdl, StructuresHaveThePublishedSizes) {
    EXPECT_EQ(sizeof(OPCSERVERSTATUS), 48u);
    EXPECT_EQ(sizeof(OPCITEMDEF), 28u);
    EXPECT_EQ(sizeof(OPCITEMRESULT), 20u);
    EXPECT_EQ(sizeof(OPCITEMSTATE), 32u);
    EXPECT_EQ(sizeof(OPCITEMATTRIBUTES), 56u);
    EXPECT_EQ(sizeof(OPCGROUPHEADER), 20u);
    EXPECT_EQ(sizeof(OPCITEMHEADER1), 20u);
    EXPECT_EQ(sizeof(OPCITEMHEADER2), 12u);
    EXPECT_EQ(sizeof(OPCGROUPHEADERWRITE), 16u);
    EXPECT_EQ(sizeof(OPCITEMHEADERWRITE), 8u);
}

TEST(OpcIdl, FieldsSitAtThePublishedOffsets) {
    EXPECT_EQ(offsetof(OPCSERVERSTATUS, dwServerState), 24u);
    EXPECT_EQ(offsetof(OPCSERVERSTATUS, wMajorVersion), 36u);
    EXPECT_EQ(offsetof(OPCSERVERSTATUS, szVendorInfo), 44u);
    EXPECT_EQ(offsetof(OPCITEMDEF, vtRequestedDataType), 24u);
    EXPECT_EQ(offsetof(OPCITEMSTATE, ftTimeStamp), 4u);
    EXPECT_EQ(offsetof(OPCITEMSTATE, wQuality), 12u);
    EXPECT_EQ(offsetof(OPCITEMSTATE, vDataValue), 16u);
    EXPECT_EQ(offsetof(OPCITEMATTRIBUTES, vtRequestedDataType), 32u);
    EXPECT_EQ(offsetof(OPCITEMATTRIBUTES, dwEUType), 36u);
    EXPECT_EQ(offsetof(OPCITEMATTRIBUTES, vEUInfo), 40u);
    EXPECT_EQ(offsetof(OPCITEMRESULT, dwAccessRights), 8u);
    EXPECT_EQ(offsetof(OPCITEMHEADER1, ftTimeStampItem), 12u);
}

TEST(OpcIdl, InterfaceIdsAreThePublishedOnes) {
    EXPECT_EQ(guid_text(IID_IOPCServer), L"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCServerPublicGroups), L"{39C13A4E-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCBrowseServerAddressSpace),
              L"{39C13A4F-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCGroupStateMgt), L"{39C13A50-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCPublicGroupStateMgt), L"{39C13A51-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCSyncIO), L"{39C13A52-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCAsyncIO), L"{39C13A53-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCItemMgt), L"{39C13A54-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IEnumOPCItemAttributes), L"{39C13A55-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCDataCallback), L"{39C13A70-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCAsyncIO2), L"{39C13A71-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCItemProperties), L"{39C13A72-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(guid_text(IID_IOPCShutdown), L"{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}");
    EXPECT_EQ(guid_text(IID_IOPCCommon), L"{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}");
    EXPECT_EQ(guid_text(IID_IOPCServerList), L"{13486D50-4821-11D2-A494-3CB306C10000}");
    EXPECT_EQ(guid_text(__uuidof(IOPCServer)), guid_text(IID_IOPCServer));
}

TEST(OpcIdl, EnumerationsAndCodesHaveThePublishedValues) {
    EXPECT_EQ(OPC_DS_CACHE, 1);
    EXPECT_EQ(OPC_DS_DEVICE, 2);
    EXPECT_EQ(OPC_FLAT, 3);
    EXPECT_EQ(OPC_NS_FLAT, 2);
    EXPECT_EQ(OPC_BROWSE_TO, 3);
    EXPECT_EQ(OPC_ANALOG, 1);
    EXPECT_EQ(OPC_STATUS_RUNNING, 1);
    EXPECT_EQ(OPC_ENUM_ALL, 6);
    EXPECT_EQ(OPC_READABLE, 1u);
    EXPECT_EQ(OPC_WRITEABLE, 2u);
    EXPECT_EQ(OPC_QUALITY_GOOD, 0xC0);
    EXPECT_EQ(OPC_QUALITY_OUT_OF_SERVICE, 0x1C);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, static_cast<HRESULT>(0xC0040001));
    EXPECT_EQ(OPC_E_DUPLICATENAME, static_cast<HRESULT>(0xC004000C));
    EXPECT_EQ(OPC_S_UNSUPPORTEDRATE, static_cast<HRESULT>(0x0004000D));
    EXPECT_EQ(OPC_S_INUSE, static_cast<HRESULT>(0x0004000F));
    EXPECT_EQ(OPC_E_INVALID_PID, static_cast<HRESULT>(0xC0040203));
}

}  // namespace
