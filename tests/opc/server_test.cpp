// The server object: groups by name and handle, rates and deadbands, removal with and
// without references, enumerators by scope, status, locale, client name, the shutdown
// connection point and item properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "opc/com/file_time.h"
#include "opc/server_object/server_impl.h"
#include "test_support.h"

namespace porvex::opc::test {
namespace {

// A value outside the enumeration, as a faulty client sends it. Made at run time: a
// constant outside an enumeration's range is not a value of it.
template <class Enum>
Enum OutOfRange(int value) {
    return static_cast<Enum>(value);
}

class ServerTest : public EngineTest {
  protected:
    std::vector<std::wstring> GroupNames(OPCENUMSCOPE scope, HRESULT* result) {
        win::ComPtr<IEnumString> names;
        *result = client_->CreateGroupEnumerator(scope, IID_IEnumString,
                                                 reinterpret_cast<IUnknown**>(names.put()));
        std::vector<std::wstring> out;
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        while (names && names->Next(1, &name, &fetched) == S_OK) {
            out.emplace_back(name);
            CoTaskMemFree(name);
        }
        return out;
    }

    std::wstring NameOf(IOPCGroupStateMgt* state) {
        DWORD rate = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT deadband = 0;
        DWORD lcid = 0;
        OPCHANDLE client = 0;
        OPCHANDLE server = 0;
        if (state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &server) !=
            S_OK) {
            return L"(failed)";
        }
        std::wstring out = name;
        CoTaskMemFree(name);
        return out;
    }
};

TEST_F(ServerTest, BlankNamesBecomeTheFirstFreeGroupNumber) {
    TTestGroup a = AddGroup(L"");
    TTestGroup b = AddGroup(L"   ");
    EXPECT_EQ(NameOf(a.state.get()), L"Group0");
    EXPECT_EQ(NameOf(b.state.get()), L"Group1");
    TTestGroup named = AddGroup(L"  Doors  ");
    EXPECT_EQ(NameOf(named.state.get()), L"Doors");
    TTestGroup c = AddGroup(L"");
    EXPECT_EQ(NameOf(c.state.get()), L"Group2");
    EXPECT_EQ(client_->RemoveGroup(a.handle, TRUE), S_OK);
    TTestGroup d = AddGroup(L"");
    EXPECT_EQ(NameOf(d.state.get()), L"Group0");
}

TEST_F(ServerTest, DuplicateNamesFailInAnyLetterCase) {
    TTestGroup first = AddGroup(L"Doors", 1000);
    TTestGroup second = AddGroup(L"DOORS", 2000);
    EXPECT_EQ(second.result, OPC_E_DUPLICATENAME);
    EXPECT_FALSE(second.items);
    win::ComPtr<IOPCGroupStateMgt> found;
    ASSERT_EQ(client_->GetGroupByName(L"doors", IID_IOPCGroupStateMgt,
                                      reinterpret_cast<IUnknown**>(found.put())),
              S_OK);
    EXPECT_EQ(found.get(), first.state.get());
    EXPECT_EQ(server_->groups.size(), 1u);
}

TEST_F(ServerTest, RatesAreRaisedToTheMinimum) {
    server_->min_update_rate = 500;
    TTestGroup fast = AddGroup(L"fast", 100);
    EXPECT_EQ(fast.result, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(fast.revised_rate, 500u);
    TTestGroup slow = AddGroup(L"slow", 1000);
    EXPECT_EQ(slow.result, S_OK);
    EXPECT_EQ(slow.revised_rate, 1000u);
    TTestGroup zero = AddGroup(L"zero", 0);
    EXPECT_EQ(zero.result, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(zero.revised_rate, 500u);
    // The largest stored rate still gets a timer (the rate a group starts from).
    TTestGroup longest = AddGroup(L"longest", 2147483647);
    EXPECT_EQ(longest.result, S_OK);
    TTestGroup beyond = AddGroup(L"beyond", 0xFFFFFFFF);
    EXPECT_EQ(beyond.result, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(beyond.revised_rate, 0x7FFFFFFFu);
}

TEST_F(ServerTest, DeadbandsOutsideTheRangeLeaveNothingBehind) {
    float too_big = 100.5f;
    float not_a_number = std::numeric_limits<float>::quiet_NaN();
    float full = 100.0f;
    EXPECT_EQ(AddGroup(L"a", 10, true, &too_big).result, E_INVALIDARG);
    EXPECT_EQ(AddGroup(L"b", 10, true, &not_a_number).result, E_INVALIDARG);
    EXPECT_TRUE(server_->groups.empty());
    EXPECT_TRUE(server_->notifications.size() == 1);  // only ClientConnected
    EXPECT_EQ(AddGroup(L"a", 10, true, &full).result, S_OK);
}

TEST_F(ServerTest, AnUnsupportedInterfaceLeavesNoGroup) {
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    IUnknown* unknown = nullptr;
    EXPECT_EQ(client_->AddGroup(L"g", TRUE, 10, 1, nullptr, nullptr, 0, &handle, &rate,
                                IID_IOPCAsyncIO2, &unknown),
              E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(AddGroup(L"g").result, S_OK);
    EXPECT_EQ(server_->notifications,
              (std::vector<std::wstring>{L"ClientConnected", L"GroupAdded g", L"GroupRemoved g",
                                         L"GroupAdded g"}));
}

TEST_F(ServerTest, NullArgumentsAreRefused) {
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    IUnknown* unknown = nullptr;
    EXPECT_EQ(client_->AddGroup(L"g", TRUE, 10, 1, nullptr, nullptr, 0, nullptr, &rate,
                                IID_IUnknown, &unknown),
              E_INVALIDARG);
    EXPECT_EQ(client_->AddGroup(L"g", TRUE, 10, 1, nullptr, nullptr, 0, &handle, nullptr,
                                IID_IUnknown, &unknown),
              E_INVALIDARG);
    EXPECT_EQ(client_->AddGroup(L"g", TRUE, 10, 1, nullptr, nullptr, 0, &handle, &rate,
                                IID_IUnknown, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(client_->GetGroupByName(nullptr, IID_IUnknown, &unknown), E_INVALIDARG);
    EXPECT_EQ(client_->GetStatus(nullptr), E_INVALIDARG);
    EXPECT_EQ(client_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr), E_INVALIDARG);
    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(client_.query(common), S_OK);
    EXPECT_EQ(common->SetClientName(nullptr), E_INVALIDARG);
    EXPECT_EQ(common->GetLocaleID(nullptr), E_INVALIDARG);
    EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(ServerTest, GetGroupByNameFindsInAnyCase) {
    TTestGroup g = AddGroup(L"Doors");
    win::ComPtr<IUnknown> unknown;
    EXPECT_EQ(client_->GetGroupByName(L"dOORs", IID_IUnknown, unknown.put()), S_OK);
    EXPECT_EQ(client_->GetGroupByName(L"Gates", IID_IUnknown, unknown.put()), E_INVALIDARG);
    EXPECT_EQ(client_->GetGroupByName(L"Doors", IID_IOPCServer, unknown.put()), E_NOINTERFACE);
    EXPECT_FALSE(unknown);
}

TEST_F(ServerTest, RemovingAReferencedGroupWaitsForItsLastRelease) {
    server_->SetValue(L"A", win::Variant::i4(1));
    TTestGroup g = AddGroup(L"g");
    AddItems(g.items.get(), {{L"A"}});
    EXPECT_EQ(client_->RemoveGroup(g.handle, FALSE), OPC_S_INUSE);
    win::ComPtr<IUnknown> unknown;
    EXPECT_EQ(client_->GetGroupByName(L"g", IID_IUnknown, unknown.put()), E_INVALIDARG);
    EXPECT_EQ(client_->RemoveGroup(g.handle, FALSE), E_INVALIDARG);
    EXPECT_EQ(NameOf(g.state.get()), L"(failed)");
    // A new group may take the name at once.
    TTestGroup again = AddGroup(L"g");
    EXPECT_EQ(again.result, S_OK);
    EXPECT_EQ(server_->Count(L"ReleaseHandle A"), 0);
    g = TTestGroup{};
    EXPECT_EQ(server_->Count(L"ReleaseHandle A"), 1);
    EXPECT_EQ(server_->notifications.back(), L"GroupItemRemoved A");
}

TEST_F(ServerTest, AnUnreferencedGroupGoesAtOnce) {
    TTestGroup g = AddGroup(L"g");
    const OPCHANDLE handle = g.handle;
    g = TTestGroup{};
    EXPECT_EQ(server_->groups.size(), 1u);  // the client's list still owns it
    EXPECT_EQ(client_->RemoveGroup(handle, FALSE), S_OK);
    EXPECT_TRUE(server_->groups.empty());
}

TEST_F(ServerTest, ForcedRemovalLeavesAHollowGroupForTheReferences) {
    server_->SetValue(L"A", win::Variant::i4(1));
    TTestGroup g = AddGroup(L"g");
    TAdded added = AddItems(g.items.get(), {{L"A"}});
    EXPECT_EQ(client_->RemoveGroup(g.handle, TRUE), S_OK);
    EXPECT_TRUE(server_->groups.empty());
    EXPECT_EQ(server_->Count(L"ReleaseHandle A"), 1);
    EXPECT_EQ(NameOf(g.state.get()), L"(failed)");
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(g.io->Read(OPC_DS_CACHE, 1, added.handles.data(), &states, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    EXPECT_EQ(AddItems(g.items.get(), {{L"A"}}).result, E_FAIL);
}

TEST_F(ServerTest, HandlesOfOtherClientsAndForgedHandlesAreRefused) {
    win::ComPtr<IOPCServer> other = Connect();
    TTestGroup theirs = AddGroup(L"theirs", 10, true, nullptr, other.get());
    EXPECT_EQ(client_->RemoveGroup(theirs.handle, TRUE), E_INVALIDARG);
    EXPECT_EQ(client_->RemoveGroup(0, TRUE), E_INVALIDARG);
    EXPECT_EQ(client_->RemoveGroup(0xDEADBEEF, TRUE), E_INVALIDARG);
    TTestGroup mine = AddGroup(L"mine");
    EXPECT_EQ(client_->RemoveGroup(mine.handle, TRUE), S_OK);
    EXPECT_EQ(client_->RemoveGroup(mine.handle, TRUE), E_INVALIDARG);
}

TEST_F(ServerTest, EnumeratorsListGroupsByScope) {
    AddGroup(L"b");
    AddGroup(L"a");
    HRESULT hr = E_FAIL;
    EXPECT_EQ(GroupNames(OPC_ENUM_ALL, &hr), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(GroupNames(OPC_ENUM_PRIVATE_CONNECTIONS, &hr),
              (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(GroupNames(OPC_ENUM_PRIVATE, &hr), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(GroupNames(OPC_ENUM_ALL_CONNECTIONS, &hr), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_TRUE(GroupNames(OPC_ENUM_PUBLIC, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(GroupNames(OPC_ENUM_PUBLIC_CONNECTIONS, &hr).empty());
    EXPECT_TRUE(GroupNames(OutOfRange<OPCENUMSCOPE>(42), &hr).empty());
    EXPECT_EQ(hr, S_FALSE);

    win::ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(client_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                             reinterpret_cast<IUnknown**>(groups.put())),
              S_OK);
    IUnknown* batch[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(groups->Next(3, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    win::ComPtr<IUnknown> first = win::ComPtr<IUnknown>::adopt(batch[0]);
    win::ComPtr<IUnknown> second = win::ComPtr<IUnknown>::adopt(batch[1]);
    win::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(first.query(state), S_OK);
    EXPECT_EQ(NameOf(state.get()), L"a");
    win::ComPtr<IUnknown> refused;
    EXPECT_EQ(client_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, refused.put()),
              E_NOINTERFACE);
}

TEST_F(ServerTest, StatusReportsTimesGroupsAndVendor) {
    server_->SetVendorInfo(L"Porvex test vendor");
    AddGroup(L"a");
    AddGroup(L"b");
    win::UniqueCoTaskMem<OPCSERVERSTATUS> status;
    ASSERT_EQ(client_->GetStatus(status.put()), S_OK);
    const OPCSERVERSTATUS& s = *status.get();
    EXPECT_EQ(FileTimeTicks(s.ftStartTime), FileTimeTicks(server_->StartTime()));
    EXPECT_EQ(FileTimeTicks(s.ftCurrentTime), server_->clock.load());
    EXPECT_EQ(s.dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(s.dwGroupCount, 2u);
    EXPECT_EQ(s.dwBandWidth, 0xFFFFFFFFu);
    // The test program has no version resource.
    EXPECT_EQ(s.wMajorVersion, 0);
    EXPECT_EQ(s.wMinorVersion, 0);
    EXPECT_EQ(s.wBuildNumber, 0);
    ASSERT_NE(s.szVendorInfo, nullptr);
    EXPECT_STREQ(s.szVendorInfo, L"Porvex test vendor");
    CoTaskMemFree(s.szVendorInfo);
}

TEST_F(ServerTest, LocalesAreTheSystemDefaultsOnly) {
    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(client_.query(common), S_OK);
    LCID lcid = 0;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 2048u);
    EXPECT_EQ(common->SetLocaleID(GetUserDefaultLCID()), S_OK);
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, GetUserDefaultLCID());
    EXPECT_EQ(common->SetLocaleID(2048), S_OK);
    const LCID other = GetSystemDefaultLCID() == 0x0407 ? 0x040C : 0x0407;
    if (other != GetUserDefaultLCID()) {
        EXPECT_EQ(common->SetLocaleID(other), E_INVALIDARG);
    }
    DWORD count = 0;
    win::UniqueCoTaskMem<LCID> locales;
    ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, locales.put()), S_OK);
    // Each locale SetLocaleID accepts, once (the system's and the user's are often one).
    const std::vector<LCID> listed(locales.get(), locales.get() + count);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed[0], 2048u);
    EXPECT_EQ(std::set<LCID>(listed.begin(), listed.end()).size(), listed.size())
        << "a locale is listed twice";
    for (LCID accepted : {GetSystemDefaultLCID(), GetUserDefaultLCID()}) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), accepted), listed.end()) << accepted;
    }
}

TEST_F(ServerTest, TheClientNameIsKeptAndAnnounced) {
    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(client_.query(common), S_OK);
    EXPECT_EQ(common->SetClientName(L"监控客户端"), S_OK);
    EXPECT_EQ(server_->Clients(0).ClientName(), L"监控客户端");
    EXPECT_EQ(server_->notifications.back(), L"ClientNameChanged 监控客户端");
}

TEST_F(ServerTest, TheShutdownPointTakesOneSink) {
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(client_.query(container), S_OK);
    win::ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
              CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCShutdown));
    win::ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), container.get());

    auto sink = TTestShutdown::Create();
    auto wrong = TTestDataCallback::Create();
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(wrong->identity(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Advise(sink->identity(), &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(point->Advise(sink->identity(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(server_->ShutdownClients(L"bye"), 1);
    EXPECT_EQ(point->Unadvise(99), S_OK);
    EXPECT_EQ(server_->ShutdownClients(L"bye"), 0);
    IEnumConnections* connections = reinterpret_cast<IEnumConnections*>(1);
    EXPECT_EQ(point->EnumConnections(&connections), E_NOTIMPL);
    EXPECT_EQ(connections, nullptr);
}

TEST_F(ServerTest, TheConnectionPointEnumeratorHoldsOnePoint) {
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(client_.query(container), S_OK);
    win::ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    IConnectionPoint* batch[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    win::ComPtr<IConnectionPoint> only = win::ComPtr<IConnectionPoint>::adopt(batch[0]);
    EXPECT_EQ(points->Next(1, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    EXPECT_EQ(points->Skip(0), S_OK);
    EXPECT_EQ(points->Skip(1), S_FALSE);
    EXPECT_EQ(points->Reset(), S_OK);
    win::ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(points->Clone(clone.put()), S_OK);
    EXPECT_EQ(clone->Next(1, batch, &fetched), S_OK);
    win::ComPtr<IConnectionPoint> again = win::ComPtr<IConnectionPoint>::adopt(batch[0]);
    EXPECT_EQ(again.get(), only.get());
}

TEST_F(ServerTest, ItemPropertiesShareOneDeviceRead) {
    server_->SetValue(L"Temp", win::Variant::r8(21.5), 0x40);
    server_->Item(L"Temp").rights = kAccessRead;
    win::ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(client_.query(properties), S_OK);

    DWORD count = 0;
    win::UniqueCoTaskMem<DWORD> ids;
    win::UniqueCoTaskMem<LPWSTR> descriptions;
    win::UniqueCoTaskMem<VARTYPE> types;
    ASSERT_EQ(properties->QueryAvailableProperties(const_cast<LPWSTR>(L"Temp"), &count, ids.put(),
                                                   descriptions.put(), types.put()),
              S_OK);
    ASSERT_EQ(count, 6u);
    const std::vector<std::wstring> expected{
        L"Item Canonical Data Type", L"Item Value",         L"Item Quality",
        L"Item Timestamp",           L"Item Access Rights", L"Item Server Scan Rate"};
    const VARTYPE expected_types[] = {VT_I2, VT_R8, VT_I2, VT_DATE, VT_I4, VT_R4};
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(ids[i], i + 1);
        EXPECT_EQ(descriptions[i], expected[i]);
        EXPECT_EQ(types[i], expected_types[i]);
        CoTaskMemFree(descriptions[i]);
    }

    server_->calls.clear();
    DWORD wanted[] = {1, 2, 7, 3, 4, 5, 6};
    win::UniqueCoTaskMem<VARIANT> values;
    win::UniqueCoTaskMem<HRESULT> errors;
    ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"Temp"), 7, wanted, values.put(),
                                            errors.put()),
              S_OK);
    EXPECT_EQ(server_->Count(L"GetItemValue Temp"), 2);  // the type probe and one read
    EXPECT_EQ(values[0].vt, VT_I2);
    EXPECT_EQ(values[0].iVal, VT_R8);
    EXPECT_EQ(values[1].vt, VT_R8);
    EXPECT_EQ(values[1].dblVal, 21.5);
    EXPECT_EQ(values[2].vt, VT_EMPTY);
    EXPECT_EQ(errors[2], OPC_E_INVALID_PID);
    EXPECT_EQ(values[3].iVal, 0x40);
    EXPECT_EQ(values[4].vt, VT_DATE);
    EXPECT_EQ(values[5].lVal, static_cast<LONG>(kAccessRead));
    EXPECT_EQ(values[6].vt, VT_R4);
    EXPECT_EQ(values[6].fltVal, 10.0f);
    for (int i = 0; i < 7; ++i) {
        if (i != 2) {
            EXPECT_EQ(errors[i], S_OK);
        }
        VariantClear(&values[i]);
    }
    // A temporary reference: released at once, never subscribed.
    EXPECT_EQ(server_->Count(L"ReleaseHandle Temp"), 1);
    EXPECT_EQ(server_->Count(L"SubscribeItem Temp"), 0);
}

TEST_F(ServerTest, ItemPropertiesRefuseUnknownItemsAndBadArguments) {
    win::ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(client_.query(properties), S_OK);
    DWORD one[] = {1};
    win::UniqueCoTaskMem<VARIANT> values;
    win::UniqueCoTaskMem<HRESULT> errors;
    EXPECT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"nope"), 1, one, values.put(),
                                            errors.put()),
              OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(values.get(), nullptr);
    server_->SetValue(L"X", win::Variant::i4(0));
    EXPECT_EQ(
        properties->GetItemProperties(const_cast<LPWSTR>(L"X"), 0, one, values.put(), errors.put()),
        E_INVALIDARG);
    EXPECT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"X"), 1, nullptr, values.put(),
                                            errors.put()),
              E_INVALIDARG);
    EXPECT_EQ(properties->GetItemProperties(nullptr, 1, one, values.put(), errors.put()),
              E_INVALIDARG);

    win::UniqueCoTaskMem<LPWSTR> ids;
    DWORD two[] = {1, 2};
    ASSERT_EQ(properties->LookupItemIDs(const_cast<LPWSTR>(L"X"), 2, two, ids.put(), errors.put()),
              S_FALSE);
    EXPECT_EQ(ids[0], nullptr);
    EXPECT_EQ(ids[1], nullptr);
    EXPECT_EQ(errors[0], OPC_E_INVALID_PID);
    EXPECT_EQ(errors[1], OPC_E_INVALID_PID);
    EXPECT_EQ(
        properties->LookupItemIDs(const_cast<LPWSTR>(L"nope"), 2, two, ids.put(), errors.put()),
        OPC_E_UNKNOWNITEMID);
}

TEST_F(ServerTest, AClientLeavingTakesItsGroupsParentsFirst) {
    server_->SetValue(L"A", win::Variant::i4(1));
    TTestGroup g = AddGroup(L"g");
    AddItems(g.items.get(), {{L"A"}});
    server_->notifications.clear();
    client_.reset();
    EXPECT_EQ(server_->notifications,
              (std::vector<std::wstring>{L"ClientDisconnected", L"GroupRemoved g",
                                         L"GroupItemRemoved A"}));
    // The client still holds the group: it answers, but has nothing left.
    EXPECT_EQ(NameOf(g.state.get()), L"(failed)");
    EXPECT_EQ(AddItems(g.items.get(), {{L"A"}}).result, E_FAIL);
}

TEST(ItemServerGoing, ClientObjectsThatOutliveItFailCleanly) {
    win::ComPtr<IOPCServer> client;
    win::ComPtr<IOPCItemMgt> group;
    {
        TTestItemServer server;
        server.SetValue(L"A", win::Variant::i4(1));
        ASSERT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(client.put())), S_OK);
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        ASSERT_EQ(client->AddGroup(L"g", TRUE, 10, 1, nullptr, nullptr, 0, &handle, &rate,
                                   IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        EXPECT_EQ(server.ClientCount(), 1);
    }
    win::UniqueCoTaskMem<OPCSERVERSTATUS> status;
    EXPECT_EQ(client->GetStatus(status.put()), E_FAIL);
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    win::ComPtr<IUnknown> unknown;
    EXPECT_EQ(client->AddGroup(L"h", TRUE, 10, 1, nullptr, nullptr, 0, &handle, &rate, IID_IUnknown,
                               unknown.put()),
              E_FAIL);
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(L"A");
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->AddItems(1, &def, &results, &errors), E_FAIL);
    PumpUntil([] { return false; }, 30);  // no tick of the gone group may run
}

}  // namespace
}  // namespace porvex::opc::test
