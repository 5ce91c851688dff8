// The anchor of interface registrations: what it anchors, and that it keeps no server alive.
#include <gtest/gtest.h>

#include <objidl.h>

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
    {
        const IID iids[] = {IID_IUnknown, IID_IEnumString, kNoProxyIid};
        const RpcInterfaceAnchor anchor(iids);
        EXPECT_EQ(anchor.anchored(), 2u);
        ASSERT_EQ(anchor.missing().size(), 1u);
        EXPECT_TRUE(IsEqualIID(anchor.missing()[0], kNoProxyIid));
        // The anchor's object is not one of the module's: a server that anchors its
        // interfaces still ends with its last client.
        EXPECT_EQ(ObjectCount::live(), live_before);
    }
    // A second anchor of the same interfaces after the first one went works the same.
    const IID again[] = {IID_IEnumString};
    const RpcInterfaceAnchor anchor(again);
    EXPECT_EQ(anchor.anchored(), 1u);
    EXPECT_TRUE(anchor.missing().empty());
}

TEST(RpcInterfaceAnchor, MovedAnchorsReleaseOnce) {
    const ComApartment apartment;
    ASSERT_TRUE(apartment.initialised());
    const IID iids[] = {IID_IEnumString};
    RpcInterfaceAnchor first(iids);
    RpcInterfaceAnchor second;
    second = std::move(first);
    EXPECT_EQ(second.anchored(), 1u);
    EXPECT_EQ(first.anchored(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is empty
}

}  // namespace
}  // namespace porvex::win
