// The anchoring of interface registrations: what it anchors, from which threads, and that it
// keeps no server alive.
#include <gtest/gtest.h>

#include <objidl.h>

#include <thread>

#include "win/com_apartment.h"
#include "win/com_object.h"
#include "win/rpc_interface_anchor.h"

namespace porvex::win {
namespace {

// An interface nobody has a proxy/stub for.
const IID kNoProxyIid = {
    0x2f4f8d0e, 0x61a9, 0x4c1b, {0x8e, 0x3b, 0x5a, 0x0c, 0x7d, 0x44, 0x91, 0x2a}};

TEST(RpcInterfaceAnchor, AnchorsWhatCanBeMarshalledAndListsTheRest) {
    const ComApartment apartment;
    ASSERT_TRUE(apartment.initialised());
    const long live_before = ObjectCount::live();
    const IID iids[] = {IID_IUnknown, IID_IEnumString, kNoProxyIid};
    const RpcAnchorReport report = AnchorRpcInterfaces(iids);
    EXPECT_EQ(report.anchored, 2u);
    ASSERT_EQ(report.missing.size(), 1u);
    EXPECT_TRUE(IsEqualIID(report.missing[0], kNoProxyIid));
    // The anchoring object is not one of the module's: a server that anchors its
    // interfaces still ends with its last client.
    EXPECT_EQ(ObjectCount::live(), live_before);
}

TEST(RpcInterfaceAnchor, WorksFromAnyThreadWhateverItsApartment) {
    // A thread without COM, and one whose multithreaded apartment ends right after: the
    // anchors live in their own apartment, so neither matters, and anchoring the same
    // interface again is harmless.
    const IID iids[] = {IID_IEnumString, IID_IEnumUnknown};
    RpcAnchorReport without_com;
    std::thread([&] { without_com = AnchorRpcInterfaces(iids); }).join();
    EXPECT_EQ(without_com.anchored, 2u);
    EXPECT_TRUE(without_com.missing.empty());

    RpcAnchorReport from_mta;
    std::thread([&] {
        const ComApartment mta(COINIT_MULTITHREADED);
        from_mta = AnchorRpcInterfaces(iids);
    }).join();
    EXPECT_EQ(from_mta.anchored, 2u);
}

}  // namespace
}  // namespace porvex::win
