// The generated Alarms & Events definitions agree with the published OPC facts: structure
// sizes and offsets on 32-bit Windows, interface IDs, the component category, constants
// and result codes.
#include <gtest/gtest.h>

#include <cstddef>

#include "opc/idl/opc_ae_interfaces.h"
#include "win/registry.h"

namespace {

using porvex::win::guid_text;

TEST(OpcAeIdl, StructuresHaveThePublishedLayout) {
    EXPECT_EQ(sizeof(ONEVENTSTRUCT), 72u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, ftTime), 8u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, dwSeverity), 28u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, wQuality), 40u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, ftActiveTime), 48u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, pEventAttributes), 64u);
    EXPECT_EQ(offsetof(ONEVENTSTRUCT, szActorID), 68u);
    EXPECT_EQ(sizeof(OPCEVENTSERVERSTATUS), 40u);
    EXPECT_EQ(offsetof(OPCEVENTSERVERSTATUS, dwServerState), 24u);
    EXPECT_EQ(offsetof(OPCEVENTSERVERSTATUS, szVendorInfo), 36u);
    EXPECT_EQ(sizeof(OPCCONDITIONSTATE), 96u);
    EXPECT_EQ(offsetof(OPCCONDITIONSTATE, ftLastAckTime), 24u);
    EXPECT_EQ(offsetof(OPCCONDITIONSTATE, szAcknowledgerID), 56u);
    EXPECT_EQ(offsetof(OPCCONDITIONSTATE, dwNumSCs), 64u);
    EXPECT_EQ(offsetof(OPCCONDITIONSTATE, pErrors), 92u);
}

TEST(OpcAeIdl, IdsAreThePublishedOnes) {
    EXPECT_EQ(guid_text(IID_IOPCEventServer), L"{65168851-5783-11D1-84A0-00608CB8A7E9}");
    EXPECT_EQ(guid_text(IID_IOPCEventSubscriptionMgt), L"{65168855-5783-11D1-84A0-00608CB8A7E9}");
    EXPECT_EQ(guid_text(IID_IOPCEventAreaBrowser), L"{65168857-5783-11D1-84A0-00608CB8A7E9}");
    EXPECT_EQ(guid_text(IID_IOPCEventSink), L"{6516885F-5783-11D1-84A0-00608CB8A7E9}");
    EXPECT_EQ(guid_text(CATID_OPCEventServerCATID), L"{58E13251-AC87-11D1-84D5-00608CB8A7E9}");
    EXPECT_EQ(guid_text(__uuidof(IOPCEventSink)), guid_text(IID_IOPCEventSink));
}

TEST(OpcAeIdl, ConstantsAndCodesHaveThePublishedValues) {
    EXPECT_EQ(OPCAE_BROWSE_TO, 3);
    EXPECT_EQ(OPC_SOURCE, 2);
    EXPECT_EQ(OPCAE_STATUS_COMM_FAULT, 6);
    EXPECT_EQ(OPC_ALL_EVENTS, 7);
    EXPECT_EQ(OPC_FILTER_BY_SOURCE, 0x10);
    EXPECT_EQ(OPC_CHANGE_ATTRIBUTE, 0x80);
    EXPECT_EQ(OPC_CONDITION_ACKED, 4);
    EXPECT_EQ(OPC_S_ALREADYACKED, static_cast<HRESULT>(0x00040200));
    EXPECT_EQ(OPC_S_INVALIDMAXSIZE, static_cast<HRESULT>(0x00040202));
    EXPECT_EQ(OPC_E_INVALIDBRANCHNAME, static_cast<HRESULT>(0xC0040203));
    EXPECT_EQ(OPC_E_INVALIDTIME, static_cast<HRESULT>(0xC0040204));
    EXPECT_EQ(OPC_E_BUSY, static_cast<HRESULT>(0xC0040205));
    EXPECT_EQ(OPC_E_NOINFO, static_cast<HRESULT>(0xC0040206));
}

}  // namespace
