// Groups and their items: adding, validating, removing, active state, client handles and
// data types; handle validation (strict and not, stale and forged); the argument checks;
// the group's state, name and clones; the item-attribute enumerator.
#include <gtest/gtest.h>
#include <cstdint>

#include "opc/com/call_args.h"
#include "opc/server_object/server_impl.h"
#include "test_support.h"

namespace porvex::opc::test {
namespace {

class GroupItemsTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        server_->SetValue(L"Int", win::Variant::i4(42));
        server_->SetValue(L"Text", win::Variant::string(L"abc"));
        server_->SetValue(L"Secret", win::Variant::i4(7));
        server_->Item(L"Secret").rights = kAccessWrite;
        server_->SetValue(L"Gauge", win::Variant::r8(12.5));
        server_->Item(L"Gauge").eu = std::make_shared<TTestEUInfo>(1, 0.0, 200.0);
        group_ = AddGroup(L"g", 10, true);
    }

    std::vector<HRESULT> Remove(IOPCItemMgt* items, std::vector<OPCHANDLE> handles,
                                HRESULT* result) {
        HRESULT* errors = nullptr;
        *result = items->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors);
        return Errors(errors, handles.size());
    }

    TTestGroup group_;
};

TEST_F(GroupItemsTest, AddedItemsReportHandlesTypesAndRights) {
    TAdded added = AddItems(group_.items.get(), {{L"Int"}, {L"Text"}, {L"Gauge", false}});
    ASSERT_EQ(added.result, S_OK);
    EXPECT_EQ(added.canonical, (std::vector<VARTYPE>{VT_I4, VT_BSTR, VT_R8}));
    EXPECT_EQ(added.rights, (std::vector<DWORD>{3, 3, 3}));
    EXPECT_NE(added.handles[0], 0u);
    EXPECT_NE(added.handles[0], added.handles[1]);
    EXPECT_EQ(server_->Group(L"g").ItemCount(), 3);
    EXPECT_EQ(server_->notifications.back(), L"GroupItemAdded Gauge");
}

TEST_F(GroupItemsTest, BadItemsFailAloneAndLeaveNothing) {
    TAdded added = AddItems(group_.items.get(), {{L"Int"},
                                                 {L""},
                                                 {L"Unknown"},
                                                 {L"Secret", true},
                                                 {L"Int", true, 9, VT_UNKNOWN},
                                                 {L"Text", true, 8, VT_I4 | VT_ARRAY}});
    EXPECT_EQ(added.result, S_FALSE);
    EXPECT_EQ(added.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID,
                                                  OPC_E_BADRIGHTS, OPC_E_BADTYPE, S_OK}));
    EXPECT_EQ(added.handles[1], 0u);
    EXPECT_EQ(added.handles[3], 0u);
    EXPECT_EQ(server_->Group(L"g").ItemCount(), 2);
    // The refused write-only item left no shared item behind.
    EXPECT_EQ(server_->ServerItems().Count(), 2u);
    EXPECT_EQ(server_->Count(L"ReleaseHandle Secret"), 1);
    // Inactive, the same item is accepted.
    EXPECT_EQ(AddItems(group_.items.get(), {{L"Secret", false}}).result, S_OK);
}

TEST_F(GroupItemsTest, ValidationResolvesWithoutSubscribing) {
    OPCITEMDEF defs[3]{};
    defs[0].szItemID = const_cast<LPWSTR>(L"Int");
    defs[1].szItemID = const_cast<LPWSTR>(L"Nope");
    defs[2].szItemID = nullptr;
    win::UniqueCoTaskMem<OPCITEMRESULT> results;
    win::UniqueCoTaskMem<HRESULT> errors;
    ASSERT_EQ(group_.items->ValidateItems(3, defs, FALSE, results.put(), errors.put()), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(results[0].vtCanonicalDataType, VT_I4);
    EXPECT_EQ(results[0].hServer, 0u);
    EXPECT_EQ(errors[1], OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(errors[2], OPC_E_INVALIDITEMID);
    EXPECT_EQ(server_->Count(L"SubscribeItem Int"), 0);
    EXPECT_EQ(server_->Count(L"ReleaseHandle Int"), 1);
    EXPECT_EQ(server_->ServerItems().Count(), 0u);
    EXPECT_EQ(server_->Group(L"g").ItemCount(), 0);
}

TEST_F(GroupItemsTest, RemovedItemsAreAnnouncedAndTheirHandlesDie) {
    TAdded added = AddItems(group_.items.get(), {{L"Int"}, {L"Text"}});
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Remove(group_.items.get(), {added.handles[0], added.handles[0], 12345}, &hr),
              (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(server_->notifications.back(), L"GroupItemRemoved Int");
    EXPECT_EQ(server_->Group(L"g").ItemCount(), 1);
    EXPECT_EQ(Remove(group_.items.get(), {added.handles[0]}, &hr),
              std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
    EXPECT_EQ(Remove(group_.items.get(), {added.handles[1]}, &hr), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(hr, S_OK);
}

TEST_F(GroupItemsTest, HandlesOfOtherGroupsPassUnlessStrict) {
    TTestGroup other = AddGroup(L"other");
    TAdded theirs = AddItems(other.items.get(), {{L"Int", true, 55}});
    OPCHANDLE handle = theirs.handles[0];
    OPCHANDLE client = 99;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group_.items->SetClientHandles(1, &handle, &client, &errors), S_OK);
    EXPECT_EQ(Errors(errors, 1), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(server_->Group(L"other").ItemAt(0).ClientHandle(), 99u);

    server_->options = {soStrictHandles};
    client = 100;
    EXPECT_EQ(group_.items->SetClientHandles(1, &handle, &client, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 1), std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
    EXPECT_EQ(server_->Group(L"other").ItemAt(0).ClientHandle(), 99u);
    EXPECT_EQ(other.items->SetClientHandles(1, &handle, &client, &errors), S_OK);
    CoTaskMemFree(errors);
}

TEST_F(GroupItemsTest, RemovalAcrossGroupsGoesInTheClientsOrder) {
    TTestGroup other = AddGroup(L"other");
    TAdded theirs = AddItems(other.items.get(), {{L"Text"}, {L"Int"}});
    TAdded mine = AddItems(group_.items.get(), {{L"Gauge"}, {L"Int"}});
    server_->notifications.clear();
    HRESULT hr = E_FAIL;
    EXPECT_EQ(
        Remove(group_.items.get(), {theirs.handles[1], mine.handles[0], theirs.handles[0]}, &hr),
        (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
    EXPECT_EQ(server_->notifications,
              (std::vector<std::wstring>{L"GroupItemRemoved Int", L"GroupItemRemoved Gauge",
                                         L"GroupItemRemoved Text"}));
    EXPECT_EQ(server_->Group(L"other").ItemCount(), 0);
    ASSERT_EQ(server_->Group(L"g").ItemCount(), 1);
    EXPECT_EQ(server_->Group(L"g").ItemAt(0).ServerItem().ItemId(), L"Int");
    // The shared item stays while a group still uses it.
    EXPECT_EQ(server_->Count(L"ReleaseHandle Int"), 0);
    EXPECT_EQ(server_->Count(L"ReleaseHandle Gauge"), 1);
}

TEST_F(GroupItemsTest, ForgedAndStaleHandlesNeverReachAnItem) {
    TAdded added = AddItems(group_.items.get(), {{L"Int"}});
    const OPCHANDLE stale = added.handles[0];
    HRESULT hr = E_FAIL;
    Remove(group_.items.get(), {stale}, &hr);
    // A new item never takes the handle of one that went.
    TAdded again = AddItems(group_.items.get(), {{L"Int"}});
    EXPECT_NE(again.handles[0], stale);
    std::vector<OPCHANDLE> bad{
        stale,
        0,
        1,
        0xFFFFFFFF,
        0xDEADBEEF,
        static_cast<OPCHANDLE>(reinterpret_cast<std::uintptr_t>(&server_->Group(L"g")))};
    HRESULT* errors = nullptr;
    EXPECT_EQ(
        group_.items->SetActiveState(static_cast<DWORD>(bad.size()), bad.data(), FALSE, &errors),
        S_FALSE);
    for (HRESULT e : Errors(errors, bad.size())) {
        EXPECT_EQ(e, OPC_E_INVALIDHANDLE);
    }
    OPCITEMSTATE* states = nullptr;
    EXPECT_EQ(group_.io->Read(OPC_DS_DEVICE, static_cast<DWORD>(bad.size()), bad.data(), &states,
                              &errors),
              S_FALSE);
    for (HRESULT e : Errors(errors, bad.size())) {
        EXPECT_EQ(e, OPC_E_INVALIDHANDLE);
    }
    CoTaskMemFree(states);
}

TEST_F(GroupItemsTest, NullAndAbsurdArgumentsAreRefused) {
    OPCHANDLE handle = 1;
    HRESULT* errors = nullptr;
    OPCITEMRESULT* results = nullptr;
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(L"Int");
    EXPECT_EQ(group_.items->AddItems(0, &def, &results, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->AddItems(1, nullptr, &results, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->AddItems(1, &def, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->AddItems(1, &def, &results, nullptr), E_INVALIDARG);
    EXPECT_EQ(group_.items->AddItems(0xFFFFFFFF, &def, &results, &errors), E_OUTOFMEMORY);
    EXPECT_EQ(group_.items->AddItems(kMaxItemsPerCall + 1, &def, &results, &errors), E_OUTOFMEMORY);
    EXPECT_EQ(group_.items->ValidateItems(1, nullptr, FALSE, &results, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->RemoveItems(0, &handle, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->RemoveItems(1, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->RemoveItems(1, &handle, nullptr), E_INVALIDARG);
    EXPECT_EQ(group_.items->SetActiveState(0x80000000, &handle, TRUE, &errors), E_OUTOFMEMORY);
    EXPECT_EQ(group_.items->SetClientHandles(1, &handle, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->SetDatatypes(1, &handle, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(group_.items->CreateEnumerator(IID_IEnumOPCItemAttributes, nullptr), E_INVALIDARG);
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(server_->Group(L"g").ItemCount(), 0);
}

TEST_F(GroupItemsTest, ActivatingAnItemReadsIt) {
    TAdded added = AddItems(group_.items.get(), {{L"Int", false}, {L"Secret", false}});
    server_->calls.clear();
    HRESULT* errors = nullptr;
    EXPECT_EQ(group_.items->SetActiveState(2, added.handles.data(), TRUE, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    EXPECT_EQ(server_->calls, std::vector<std::wstring>{L"GetItemValue Int"});
    EXPECT_TRUE(server_->Group(L"g").ItemAt(0).Active());
    // The flag stays set when the activation read fails.
    EXPECT_TRUE(server_->Group(L"g").ItemAt(1).Active());
    server_->calls.clear();
    EXPECT_EQ(group_.items->SetActiveState(1, added.handles.data(), TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_TRUE(server_->calls.empty());  // unchanged: no read
}

TEST_F(GroupItemsTest, DataTypesMustConvert) {
    TAdded added = AddItems(group_.items.get(), {{L"Int"}, {L"Text"}});
    VARTYPE types[] = {VT_BSTR, VT_I4};
    HRESULT* errors = nullptr;
    EXPECT_EQ(group_.items->SetDatatypes(2, added.handles.data(), types, &errors), S_FALSE);
    std::vector<HRESULT> e = Errors(errors, 2);
    EXPECT_EQ(e[0], S_OK);
    EXPECT_EQ(e[1], DISP_E_TYPEMISMATCH);  // "abc" is no number
    EXPECT_EQ(server_->Group(L"g").ItemAt(0).RequestedDataType(), VT_BSTR);
    EXPECT_EQ(server_->Group(L"g").ItemAt(1).RequestedDataType(), VT_EMPTY);
    VARTYPE bad[] = {VT_UNKNOWN, VT_EMPTY};
    EXPECT_EQ(group_.items->SetDatatypes(2, added.handles.data(), bad, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{OPC_E_BADTYPE, S_OK}));
}

TEST_F(GroupItemsTest, TheAttributeEnumeratorDescribesEveryItem) {
    AddItems(group_.items.get(), {{L"Int", true, 5, VT_R8}, {L"Gauge", false, 6}});
    win::ComPtr<IUnknown> unknown;
    EXPECT_EQ(group_.items->CreateEnumerator(IID_IEnumString, unknown.put()), E_INVALIDARG);
    ASSERT_EQ(group_.items->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put()), S_OK);
    win::ComPtr<IEnumOPCItemAttributes> items;
    ASSERT_EQ(unknown.query(items), S_OK);
    OPCITEMATTRIBUTES* attributes = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(items->Next(5, &attributes, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_STREQ(attributes[0].szItemID, L"Int");
    EXPECT_STREQ(attributes[0].szAccessPath, L"");
    EXPECT_TRUE(attributes[0].bActive);
    EXPECT_EQ(attributes[0].hClient, 5u);
    EXPECT_EQ(attributes[0].vtRequestedDataType, VT_R8);
    EXPECT_EQ(attributes[0].vtCanonicalDataType, VT_I4);
    EXPECT_EQ(attributes[0].dwEUType, OPC_NOENUM);
    EXPECT_FALSE(attributes[1].bActive);
    EXPECT_EQ(attributes[1].dwEUType, OPC_ANALOG);
    EXPECT_EQ(attributes[1].vEUInfo.vt, VT_ARRAY | VT_R8);
    for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(attributes[i].szItemID);
        CoTaskMemFree(attributes[i].szAccessPath);
        VariantClear(&attributes[i].vEUInfo);
    }
    CoTaskMemFree(attributes);
    EXPECT_EQ(items->Next(1, &attributes, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(attributes, nullptr);
    EXPECT_EQ(items->Reset(), S_OK);
    EXPECT_EQ(items->Skip(1), S_OK);
    win::ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(items->Clone(clone.put()), S_OK);
    ASSERT_EQ(clone->Next(1, &attributes, &fetched), S_OK);
    EXPECT_STREQ(attributes[0].szItemID, L"Gauge");
    CoTaskMemFree(attributes[0].szItemID);
    CoTaskMemFree(attributes[0].szAccessPath);
    VariantClear(&attributes[0].vEUInfo);
    CoTaskMemFree(attributes);
    EXPECT_EQ(items->Next(1, nullptr, &fetched), E_INVALIDARG);
    // The enumerator keeps the group: removal without force must wait for it.
    group_.state.reset();
    group_.io.reset();
    OPCHANDLE group_handle = group_.handle;
    group_.items.reset();
    unknown.reset();
    EXPECT_EQ(client_->RemoveGroup(group_handle, FALSE), OPC_S_INUSE);
}

TEST_F(GroupItemsTest, StateReadsBackAndChangesStepByStep) {
    DWORD rate = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE client = 0;
    OPCHANDLE server = 0;
    ASSERT_EQ(
        group_.state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &server),
        S_OK);
    EXPECT_EQ(rate, 10u);
    EXPECT_TRUE(active);
    EXPECT_STREQ(name, L"g");
    CoTaskMemFree(name);
    EXPECT_EQ(lcid, 0x409u);
    EXPECT_EQ(client, 77u);
    EXPECT_EQ(server, group_.handle);
    EXPECT_EQ(
        group_.state->GetState(&rate, &active, nullptr, &bias, &deadband, &lcid, &client, &server),
        E_INVALIDARG);

    DWORD requested = 5;
    DWORD revised = 0;
    FLOAT bad_deadband = 100.5f;
    LONG new_bias = 60;
    BOOL inactive = FALSE;
    EXPECT_EQ(group_.state->SetState(&requested, &revised, &inactive, &new_bias, &bad_deadband,
                                     nullptr, nullptr),
              E_INVALIDARG);
    // Steps before the failing one stay done.
    EXPECT_EQ(server_->Group(L"g").UpdateRate(), 10u);
    EXPECT_FALSE(server_->Group(L"g").Active());
    EXPECT_EQ(server_->Group(L"g").TimeBias(), 60);
    FLOAT full = 100.0f;
    DWORD new_lcid = 0x804;
    OPCHANDLE new_client = 5;
    requested = 250;
    EXPECT_EQ(group_.state->SetState(&requested, &revised, nullptr, nullptr, &full, &new_lcid,
                                     &new_client),
              S_OK);
    EXPECT_EQ(revised, 250u);
    EXPECT_EQ(server_->Group(L"g").PercentDeadband(), 100.0f);
    EXPECT_EQ(server_->Group(L"g").LocaleId(), 0x804u);
    EXPECT_EQ(server_->Group(L"g").ClientGroupHandle(), 5u);
    requested = 1;
    EXPECT_EQ(
        group_.state->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
        OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 10u);
    EXPECT_EQ(group_.state->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
}

TEST_F(GroupItemsTest, RenamingRekeysTheClientsList) {
    TTestGroup other = AddGroup(L"other");
    EXPECT_EQ(group_.state->SetName(L"OTHER"), OPC_E_DUPLICATENAME);
    EXPECT_EQ(group_.state->SetName(L"G"), OPC_E_DUPLICATENAME);  // itself included
    EXPECT_EQ(group_.state->SetName(L"   "), E_INVALIDARG);
    EXPECT_EQ(group_.state->SetName(nullptr), E_INVALIDARG);
    EXPECT_EQ(group_.state->SetName(L"  renamed "), S_OK);
    win::ComPtr<IUnknown> found;
    EXPECT_EQ(client_->GetGroupByName(L"g", IID_IUnknown, found.put()), E_INVALIDARG);
    EXPECT_EQ(client_->GetGroupByName(L"Renamed", IID_IUnknown, found.put()), S_OK);
    EXPECT_EQ(AddGroup(L"g").result, S_OK);
}

TEST_F(GroupItemsTest, ClonesCopyItemsInactiveAndUnannounced) {
    AddItems(group_.items.get(), {{L"Int", true, 5, VT_R8}, {L"Text", false, 6}});
    server_->notifications.clear();
    server_->calls.clear();
    win::ComPtr<IOPCGroupStateMgt> clone;
    ASSERT_EQ(group_.state->CloneGroup(L"copy", IID_IOPCGroupStateMgt,
                                       reinterpret_cast<IUnknown**>(clone.put())),
              S_OK);
    EXPECT_EQ(server_->notifications, std::vector<std::wstring>{L"GroupAdded copy"});
    TGroupInfo& copy = server_->Group(L"copy");
    EXPECT_FALSE(copy.Active());
    EXPECT_EQ(copy.UpdateRate(), 10u);
    ASSERT_EQ(copy.ItemCount(), 2);
    EXPECT_TRUE(copy.ItemAt(0).Active());
    EXPECT_EQ(copy.ItemAt(0).ClientHandle(), 5u);
    EXPECT_EQ(copy.ItemAt(0).RequestedDataType(), VT_R8);
    EXPECT_FALSE(copy.ItemAt(1).Active());
    EXPECT_EQ(server_->Count(L"GetItemInfoEx Int"), 0);  // shared items, no new resolution
    EXPECT_EQ(server_->Count(L"GetItemValue Int"), 1);   // the active copy's read
    win::ComPtr<IUnknown> refused;
    EXPECT_EQ(group_.state->CloneGroup(L"copy", IID_IUnknown, refused.put()), OPC_E_DUPLICATENAME);
    EXPECT_EQ(group_.state->CloneGroup(L"bad", IID_IOPCServer, refused.put()), E_NOINTERFACE);
    win::ComPtr<IUnknown> found;
    EXPECT_EQ(client_->GetGroupByName(L"bad", IID_IUnknown, found.put()), E_INVALIDARG);
    // Copies leave without notifications of their items.
    server_->notifications.clear();
    clone.reset();
    win::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(client_->GetGroupByName(L"copy", IID_IOPCGroupStateMgt,
                                      reinterpret_cast<IUnknown**>(state.put())),
              S_OK);
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE client = 0;
    ASSERT_EQ(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle),
              S_OK);
    CoTaskMemFree(name);
    state.reset();
    EXPECT_EQ(client_->RemoveGroup(handle, FALSE), S_OK);
    EXPECT_EQ(server_->notifications, std::vector<std::wstring>{L"GroupRemoved copy"});
}

}  // namespace
}  // namespace porvex::opc::test
