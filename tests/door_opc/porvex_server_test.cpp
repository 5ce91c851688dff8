// The door server's item server through real COM in the test's apartment: the namespace
// it builds from the doors, item resolution, reads and remote-open writes as a client sees
// them, and the notifications it hands to the monitor window.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "door_opc/porvex_server.h"
#include "door_server.h"
#include "fake_link.h"
#include "opc/com/log.h"
#include "opc/idl/opc_errors.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/namespace/namespace_node.h"
#include "opc/server_object/server_impl.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::test {
namespace {

using win::ComPtr;
using win::Variant;

constexpr const char* kControllerIp = "10.1.1.5";
constexpr int kControllerPort = 6001;

// Records what the item server tells the window, emulating the window's tree links: a
// removed client takes its groups and items with it.
class RecordingMonitor final : public MonitorSink {
  public:
    void log_line(const std::wstring& line) override { log.push_back(line); }
    void client_connected(opc::TClientInfo& client) override {
        client.Data = this;
        events.push_back(L"client connected");
    }
    void client_disconnected(opc::TClientInfo& client) override {
        events.push_back(client.Data ? L"client disconnected" : L"client already gone");
        client.Data = nullptr;
    }
    void client_name_changed(opc::TClientInfo& client) override {
        events.push_back(L"name " + client.ClientName());
    }
    void group_added(opc::TGroupInfo& group) override {
        group.Data = this;
        events.push_back(L"group " + group.Name());
    }
    void group_removed(opc::TGroupInfo& group) override {
        events.push_back(L"group removed " + group.Name());
        group.Data = nullptr;
    }
    void group_item_added(opc::TGroupItemInfo& item) override {
        item.Data = this;
        events.push_back(L"item added");
    }
    void group_item_removed(opc::TGroupItemInfo& item) override {
        item.Data = nullptr;
        events.push_back(L"item removed");
    }

    std::vector<std::wstring> log;
    std::vector<std::wstring> events;
};

struct Added {
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    std::vector<VARTYPE> canonical;
};

class ItemServerTest : public ::testing::Test {
  protected:
    void SetUp() override { Make(PointSet::all()); }

    void Make(PointSet enabled, const std::vector<DoorRow>& rows = DefaultRows()) {
        doors_ = std::make_unique<DoorServer>(enabled, link_, clock_, log_);
        link_.register_controller(kControllerIp, kControllerPort);
        doors_->start();
        for (const DoorRow& row : rows) {
            doors_->add_door(row);
        }
        doors_->attach_value_holders();
        link_.raise_connection(kControllerIp, kControllerPort, true);
        server_ = std::make_unique<PorvexServer>();
        server_->attach(doors_.get(), &monitor_);
        client_ = Connect();
    }

    void TearDown() override {
        group_.reset();
        client_.reset();
        server_.reset();
        doors_.reset();
    }

    static std::vector<DoorRow> DefaultRows() {
        return {Row("东门", "一层", 1), Row("西门", "一层", 2)};
    }
    static DoorRow Row(std::string name, std::string location, int reader) {
        DoorRow row;
        row.name = std::move(name);
        row.location = std::move(location);
        row.ip = kControllerIp;
        row.port = std::to_string(kControllerPort);
        row.in_reader = reader;
        return row;
    }

    win::ComPtr<IOPCServer> Connect() {
        win::ComPtr<IOPCServer> server;
        EXPECT_EQ(opc::CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(server.put())),
                  S_OK);
        return server;
    }

    IOPCItemMgt* Group() {
        if (!group_) {
            OPCHANDLE handle = 0;
            DWORD rate = 0;
            const HRESULT hr =
                client_->AddGroup(L"g", TRUE, rate_, 1, nullptr, nullptr, 0x409, &handle, &rate,
                                  IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group_.put()));
            EXPECT_TRUE(hr == S_OK || (rate_ < 500 && hr == OPC_S_UNSUPPORTEDRATE)) << hr;
            revised_rate_ = rate;
        }
        return group_.get();
    }

    Added AddItems(const std::vector<std::wstring>& ids, bool active = true) {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = active ? TRUE : FALSE;
            defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        Group()->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
        Added added;
        for (std::size_t i = 0; results && errors && i < ids.size(); ++i) {
            added.handles.push_back(results[i].hServer);
            added.errors.push_back(errors[i]);
            added.canonical.push_back(results[i].vtCanonicalDataType);
        }
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return added;
    }

    // A read of an added item as the client sees it (S_OK expected): from the device, or
    // from the group's cache (no device read).
    win::Variant ReadHandleFrom(OPCDATASOURCE source, OPCHANDLE handle, WORD* quality) {
        win::ComPtr<IOPCSyncIO> io;
        group_.query(io);
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(io->Read(source, 1, &handle, &states, &errors), S_OK);
        win::Variant value(states[0].vDataValue);
        if (quality != nullptr) {
            *quality = states[0].wQuality;
        }
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return value;
    }
    win::Variant ReadHandle(OPCHANDLE handle, WORD* quality = nullptr) {
        return ReadHandleFrom(OPC_DS_DEVICE, handle, quality);
    }
    win::Variant CacheRead(OPCHANDLE handle, WORD* quality = nullptr) {
        return ReadHandleFrom(OPC_DS_CACHE, handle, quality);
    }

    // Lets the group's update timer run for a while (the engine's ticks are window timers).
    static void RunMessages(DWORD ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
            Sleep(5);
        }
    }

    // The report of card 0012AB34 at the first door (东门, reader 1).
    static ReceivedFrame CardAtTheFirstDoor() {
        ReceivedFrame card;
        card.IP = kControllerIp;
        card.Port = kControllerPort;
        card.Cmd = 30;
        card.Data =
            "01"
            "0012AB34"
            "01"
            "80"
            "000000000000";
        return card;
    }

    // The write's result for the item: its entry of the error array.
    HRESULT WriteHandle(OPCHANDLE handle, const win::Variant& value) {
        win::ComPtr<IOPCSyncIO> io;
        group_.query(io);
        HRESULT* errors = nullptr;
        VARIANT raw = value.value();
        HRESULT hr = io->Write(1, &handle, &raw, &errors);
        if (SUCCEEDED(hr) && errors != nullptr) {
            hr = errors[0];
        }
        CoTaskMemFree(errors);
        return hr;
    }

    WORD Quality(const std::wstring& id) {
        WORD quality = 0xFFFF;
        const Added added = AddItems({id});
        ReadHandle(added.handles.at(0), &quality);
        return quality;
    }

    win::Variant Read(const std::wstring& id) {
        const Added added = AddItems({id});
        EXPECT_EQ(added.errors.at(0), S_OK) << "item " << std::string(id.begin(), id.end());
        return ReadHandle(added.handles.at(0));
    }

    HRESULT Write(const std::wstring& id, const win::Variant& value) {
        return WriteHandle(AddItems({id}).handles.at(0), value);
    }

    opc::TNamespaceNode* Browse(const std::wstring& path) {
        opc::TItemIdList* root = nullptr;
        server_->EnsureNamespace(root);
        return server_->NamespaceRoot()->FindNode(path);
    }

    ManualClock clock_;
    FakeLink link_;
    MemoryLog log_;
    RecordingMonitor monitor_;
    std::unique_ptr<DoorServer> doors_;
    std::unique_ptr<PorvexServer> server_;
    win::ComPtr<IOPCServer> client_;
    win::ComPtr<IOPCItemMgt> group_;
    DWORD rate_ = 1000;  // the test group's update rate
    DWORD revised_rate_ = 0;
};

std::wstring Text(const win::Variant& v) {
    return v.type() == VT_BSTR ? std::wstring(v.value().bstrVal) : L"<not a string>";
}

TEST_F(ItemServerTest, NamespaceHasOneBranchPerDoorWithItsEnabledPoints) {
    opc::TNamespaceNode* door = Browse(L"东门(一层)");
    ASSERT_NE(door, nullptr);
    EXPECT_TRUE(door->IsBranch());
    EXPECT_EQ(door->ChildCount(), 8);  // seven points and the swipe time; no address leaves
    EXPECT_EQ(Browse(L"东门(一层).IP"), nullptr);
    EXPECT_EQ(Browse(L"东门(一层).端口号"), nullptr);

    auto* state = dynamic_cast<opc::TNamespaceItem*>(Browse(L"西门(一层).门禁状态"));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->AccessRights(), opc::kAccessRead);
    EXPECT_EQ(state->DataType(), VT_I2);
    auto* open = dynamic_cast<opc::TNamespaceItem*>(Browse(L"西门(一层).遥控开门"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->AccessRights(), opc::kAccessReadWrite);
    auto* card = dynamic_cast<opc::TNamespaceItem*>(Browse(L"西门(一层).最后一个刷卡人卡片号码"));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->DataType(), VT_BSTR);
    EXPECT_TRUE(monitor_.log.empty());
}

TEST_F(ItemServerTest, DisabledPointsAreNeitherBrowsableNorResolvable) {
    TearDown();
    Make(PointSet::all().without(PointKind::contact_alarm));
    EXPECT_EQ(Browse(L"东门(一层).门磁报警"), nullptr);
    EXPECT_NE(Browse(L"东门(一层).门禁状态"), nullptr);
    EXPECT_EQ(AddItems({L"东门(一层).门磁报警"}).errors.at(0), OPC_E_INVALIDITEMID);
}

TEST_F(ItemServerTest, ADuplicateDoorIsLoggedOnceAndTheDoorsAfterItStayBrowsable) {
    TearDown();
    Make(PointSet::all(), {Row("东门", "一层", 1), Row("东门", "一层", 2), Row("南门", "二层", 4)});
    opc::TNamespaceNode* door = Browse(L"东门(一层)");
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(door->ChildCount(), 8);
    EXPECT_NE(Browse(L"南门(二层).门禁状态"), nullptr);  // browsing went on past the duplicate
    EXPECT_TRUE(monitor_.log.empty());
    // One line, naming both doors' controllers and readers.
    int lines = 0;
    for (const std::string& line : log_.lines()) {
        if (line.find("has the name and location of door") != std::string::npos) {
            ++lines;
            EXPECT_NE(line.find("readers 2/0"), std::string::npos) << line;
            EXPECT_NE(line.find("readers 1/0"), std::string::npos) << line;
            EXPECT_NE(line.find("10.1.1.5:6001"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(lines, 1);

    // Item IDs of such doors reach the first door's leaves; the third door still resolves.
    EXPECT_EQ(Write(L"东门(一层).遥控开门", win::Variant::i4(1)), S_OK);
    EXPECT_EQ(link_.sent().size(), 1u);
    EXPECT_EQ(doors_->node_text(doors_->door(0).remote_open_node), "遥控开门:锁定");
    EXPECT_EQ(doors_->node_text(doors_->door(1).remote_open_node), "遥控开门:成功");
    EXPECT_EQ(AddItems({L"南门(二层).门禁状态"}).errors.at(0), S_OK);
}

TEST_F(ItemServerTest, NamesWithDotsAndParenthesesAreBrowsableAndResolve) {
    TearDown();
    Make(PointSet::all(), {Row("A.1门", "楼(北).2", 1), Row("西门", "一层", 2)});
    opc::TNamespaceNode* door = Browse(L"A.1门(楼(北).2)");
    ASSERT_NE(door, nullptr);
    EXPECT_TRUE(door->IsBranch());
    opc::TNamespaceNode* state = Browse(L"A.1门(楼(北).2).门禁状态");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->FullPath(), L"A.1门(楼(北).2).门禁状态");
    EXPECT_EQ(AddItems({L"A.1门(楼(北).2).门禁状态"}).errors.at(0), S_OK);
    EXPECT_EQ(Write(L"A.1门(楼(北).2).遥控开门", win::Variant::i4(1)), S_OK);
    EXPECT_EQ(link_.sent().size(), 1u);
    EXPECT_NE(Browse(L"西门(一层).门禁状态"), nullptr);

    // The browse interface walks into the branch and names its items.
    win::ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(client_.query(browse), S_OK);
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"A.1门(楼(北).2)"), S_OK);
    LPWSTR id = nullptr;
    ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"遥控开门"), &id), S_OK);
    EXPECT_STREQ(id, L"A.1门(楼(北).2).遥控开门");
    CoTaskMemFree(id);
}

TEST_F(ItemServerTest, ItemIdsResolveExactlyIncludingTheAddressLeaves) {
    const Added added = AddItems({L"东门(一层).门禁状态", L"东门(一层).门禁状态 ", L"东门(一层)",
                                  L"东门(一层).端口号", L"东门(一层).IP", L"西门(一层).ip"});
    EXPECT_EQ(added.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID,
                                                  S_OK, S_OK, OPC_E_INVALIDITEMID}));
    EXPECT_EQ(Read(L"东门(一层).端口号").value().lVal, kControllerPort);
    EXPECT_EQ(Text(Read(L"东门(一层).IP")), L"10.1.1.5");
}

TEST_F(ItemServerTest, ReadsShowThePointValuesInTheirTypes) {
    win::Variant state = Read(L"东门(一层).门禁状态");
    EXPECT_EQ(state.type(), VT_I2);
    EXPECT_EQ(Text(Read(L"东门(一层).最后一个刷卡人卡片号码")), L"0");

    // The controller's link goes down: the word and card points say so.
    link_.raise_connection(kControllerIp, kControllerPort, false);
    EXPECT_EQ(Read(L"东门(一层).门禁状态").value().iVal, 2);
    EXPECT_EQ(Read(L"东门(一层).防拆报警").value().iVal, 2);
    EXPECT_EQ(Text(Read(L"西门(一层).最后一个刷卡人卡片号码")), L"没有监控");
    EXPECT_EQ(Read(L"东门(一层).遥控开门").value().iVal, 0);
}

TEST_F(ItemServerTest, EveryPointHasOneTypeInTheNamespaceAddItemsAndItsValues) {
    const std::vector<std::pair<std::wstring, VARTYPE>> points = {
        {L"门禁状态", VT_I2},   {L"遥控开门", VT_I2},      {L"最后一个刷卡人卡片号码", VT_BSTR},
        {L"非法刷卡", VT_BSTR}, {L"防拆报警", VT_I2},      {L"门开关状态", VT_I2},
        {L"门磁报警", VT_I2},   {L"最后刷卡时间", VT_DATE}};
    // A forced entry at a closed door: the door-open value that once came as VT_UI1.
    doors_->tick(10);  // the door's state is unknown: a status query goes out
    ASSERT_FALSE(link_.sent().empty());
    ReceivedFrame event;
    event.IP = kControllerIp;
    event.Port = kControllerPort;
    event.ApCode = link_.sent()[0].ap_code;
    event.Cmd = 33;  // closed, contact closed
    event.Data = "01";
    doors_->receive(event);
    event.Cmd = 26;  // the contact alarm of reader 1
    event.Data = "00000002";
    doors_->receive(event);
    ASSERT_EQ(doors_->door(0).door_open, DoorOpenState::closed);
    ASSERT_EQ(doors_->door(0).contact_alarm, ContactAlarmState::forced_entry);
    for (const auto& [point, type] : points) {
        const std::wstring id = L"东门(一层)." + point;
        auto* item = dynamic_cast<opc::TNamespaceItem*>(Browse(id));
        ASSERT_NE(item, nullptr) << std::string(id.begin(), id.end());
        EXPECT_EQ(item->DataType(), type);
        const Added added = AddItems({id});
        EXPECT_EQ(added.canonical.at(0), type);
        EXPECT_EQ(ReadHandle(added.handles.at(0)).type(), type);
    }
    EXPECT_EQ(Read(L"东门(一层).门开关状态").value().iVal, 1);
}

TEST_F(ItemServerTest, OnlyRemoteOpenIsWritable) {
    const std::vector<std::wstring> read_only = {
        L"东门(一层).门禁状态",     L"东门(一层).最后一个刷卡人卡片号码",
        L"东门(一层).非法刷卡",     L"东门(一层).防拆报警",
        L"东门(一层).门开关状态",   L"东门(一层).门磁报警",
        L"东门(一层).最后刷卡时间", L"东门(一层).IP"};
    for (const std::wstring& id : read_only) {
        OPCITEMDEF def{};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id.c_str());
        def.bActive = TRUE;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(Group()->AddItems(1, &def, &results, &errors), S_OK);
        EXPECT_EQ(results[0].dwAccessRights, static_cast<DWORD>(OPC_READABLE));
        const OPCHANDLE handle = results[0].hServer;
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        EXPECT_EQ(WriteHandle(handle, win::Variant::i4(1)), OPC_E_BADRIGHTS);
    }
    EXPECT_EQ(doors_->node_text(doors_->door(0).state_node), "门禁状态:正常");
    EXPECT_TRUE(link_.sent().empty());

    // Property 5 (access rights) agrees.
    win::ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(client_.query(properties), S_OK);
    DWORD rights_property = 5;
    for (const auto& [id, rights] : std::vector<std::pair<std::wstring, LONG>>{
             {L"东门(一层).门禁状态", OPC_READABLE}, {L"东门(一层).遥控开门", 3}}) {
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(id.c_str()), 1, &rights_property,
                                                &values, &errors),
                  S_OK);
        EXPECT_EQ(values[0].lVal, rights);
        VariantClear(&values[0]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
    }
}

TEST_F(ItemServerTest, QualityFollowsTheControllerLink) {
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_GOOD);
    link_.raise_disconnection(kControllerIp, kControllerPort);
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(Quality(L"西门(一层).遥控开门"), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(Quality(L"西门(一层).最后刷卡时间"), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(Quality(L"东门(一层).IP"), OPC_QUALITY_GOOD);  // configuration, always known
    // Failed reconnects keep the loss; a reconnect makes the items good again.
    link_.raise_connection(kControllerIp, kControllerPort, false);
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_COMM_FAILURE);
    link_.raise_connection(kControllerIp, kControllerPort, true);
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_GOOD);
}

TEST_F(ItemServerTest, DoorsNeverConnectedReadNotConnected) {
    TearDown();
    doors_ = std::make_unique<DoorServer>(PointSet::all(), link_, clock_, log_);
    doors_->start();
    doors_->add_door(Row("东门", "一层", 1));
    doors_->attach_value_holders();
    server_ = std::make_unique<PorvexServer>();
    server_->attach(doors_.get(), &monitor_);
    client_ = Connect();
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_NOT_CONNECTED);
    link_.raise_connection(kControllerIp, kControllerPort, false);  // a failed first attempt
    EXPECT_EQ(Quality(L"东门(一层).门禁状态"), OPC_QUALITY_NOT_CONNECTED);
}

TEST_F(ItemServerTest, RemoteOpenWritesSendOneCommandAndReadBackTheirState) {
    EXPECT_EQ(Write(L"西门(一层).遥控开门", win::Variant::i4(1)), S_OK);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").value().iVal, 2);
    EXPECT_EQ(Write(L"西门(一层).遥控开门", win::Variant::i4(1)), S_OK);
    ASSERT_EQ(link_.sent().size(), 1u);
    EXPECT_EQ(link_.sent()[0].cmd, 0x20);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").value().iVal, 2);

    ReceivedFrame reply;
    reply.IP = kControllerIp;
    reply.Port = kControllerPort;
    reply.ApCode = link_.sent()[0].ap_code;
    reply.Cmd = 32;
    doors_->receive(reply);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").value().iVal, 0);
    EXPECT_EQ(Read(L"西门(一层).门开关状态").value().iVal, 1);

    // Any other number fails at once and sends nothing.
    EXPECT_EQ(Write(L"东门(一层).遥控开门", win::Variant::i4(0)), S_OK);
    EXPECT_EQ(Read(L"东门(一层).遥控开门").value().iVal, 1);
    EXPECT_EQ(Write(L"东门(一层).遥控开门", win::Variant::r8(0.6)), S_OK);  // never rounds to 1
    EXPECT_EQ(link_.sent().size(), 1u);
}

TEST_F(ItemServerTest, BooleanTrueAndTheTextsOneAndTrueOpen) {
    const std::wstring east = L"东门(一层).遥控开门";
    const std::wstring west = L"西门(一层).遥控开门";
    EXPECT_EQ(Write(east, win::Variant::boolean(true)), S_OK);
    ASSERT_EQ(link_.sent().size(), 1u);
    EXPECT_EQ(Write(west, win::Variant::string(L" True")), S_OK);
    ASSERT_EQ(link_.sent().size(), 2u);
    EXPECT_EQ(Read(west).value().iVal, 2);

    TearDown();
    Make(PointSet::all());
    EXPECT_EQ(Write(east, win::Variant::string(L"1")), S_OK);
    EXPECT_EQ(link_.sent().size(), 3u);
    EXPECT_EQ(Write(west, win::Variant::boolean(false)), S_OK);
    EXPECT_EQ(Read(west).value().iVal, 1);
    EXPECT_EQ(Write(west, win::Variant::string(L"open")), OPC_E_BADTYPE);
    EXPECT_EQ(link_.sent().size(), 3u);
}

TEST_F(ItemServerTest, ARemoteOpenToAnOfflineDoorFailsAtOnceAndIsLoggedWithTheClient) {
    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(client_.query(common), S_OK);
    ASSERT_EQ(common->SetClientName(L"scada-7"), S_OK);
    link_.raise_disconnection(kControllerIp, kControllerPort);
    const std::wstring west = L"西门(一层).遥控开门";
    EXPECT_EQ(Write(west, win::Variant::i4(1)), E_FAIL);
    EXPECT_TRUE(link_.sent().empty());  // nothing queued to fire later
    EXPECT_EQ(Read(west).value().iVal, 1);
    EXPECT_EQ(doors_->node_text(doors_->door(1).remote_open_node), "遥控开门:失败");
    EXPECT_EQ(doors_->pending_commands(), 0u);
    EXPECT_TRUE(
        log_.contains("remote open of 西门(一层) (10.1.1.5:6001, readers 2/0) by "
                      "scada-7: refused, controller offline"));

    // Back online: the earlier write stays undone; a new one is sent and logged, and so
    // is its reply.
    link_.raise_connection(kControllerIp, kControllerPort, true);
    EXPECT_TRUE(link_.sent().empty());
    EXPECT_EQ(Write(west, win::Variant::i4(1)), S_OK);
    ASSERT_EQ(link_.sent().size(), 1u);
    EXPECT_TRUE(log_.contains("by scada-7: sent"));
    ReceivedFrame reply;
    reply.IP = kControllerIp;
    reply.Port = kControllerPort;
    reply.ApCode = link_.sent()[0].ap_code;
    reply.Cmd = 32;
    doors_->receive(reply);
    EXPECT_TRUE(log_.contains("by scada-7: reply: opened"));
}

TEST_F(ItemServerTest, AFrameTheLibraryRefusesFailsTheWrite) {
    link_.set_send_result(false);
    EXPECT_EQ(Write(L"东门(一层).遥控开门", win::Variant::i4(1)), E_FAIL);
    EXPECT_EQ(Read(L"东门(一层).遥控开门").value().iVal, 1);
    // A client without a name is named by the moment it connected (as the client tree
    // shows it).
    EXPECT_TRUE(log_.contains("by (unnamed client connected "));
    EXPECT_TRUE(log_.contains("refused by the controller library"));
}

TEST_F(ItemServerTest, AWriteThatThrowsFailsAndTheProgramLogSaysWhy) {
    std::vector<std::wstring> program_log;
    opc::TLogSink previous =
        opc::SetLogSink([&](std::wstring_view line) { program_log.emplace_back(line); });
    link_.set_send_throws("the link table is gone");
    const HRESULT written = Write(L"东门(一层).遥控开门", win::Variant::i4(1));
    opc::SetLogSink(std::move(previous));

    EXPECT_EQ(written, E_FAIL);
    // The window's log list keeps its fixed line; the cause goes to the program's log.
    ASSERT_FALSE(monitor_.log.empty());
    EXPECT_EQ(monitor_.log.back().rfind(L"OPC客户端遥控开门异常(", 0), 0u);
    ASSERT_EQ(program_log.size(), 1u);
    EXPECT_NE(program_log[0].find(L"the link table is gone"), std::wstring::npos)
        << std::string(program_log[0].begin(), program_log[0].end());
}

TEST_F(ItemServerTest, EveryCardReadMovesTheSwipeTimeOn) {
    const Added added = AddItems({L"东门(一层).最后刷卡时间"});
    EXPECT_EQ(ReadHandle(added.handles.at(0)).value().date, 0.0);
    const ReceivedFrame card = CardAtTheFirstDoor();
    doors_->receive(card);
    const double first = ReadHandle(added.handles.at(0)).value().date;
    EXPECT_GT(first, 40000.0);  // a date of this century
    doors_->receive(card);      // the same card again
    const double second = ReadHandle(added.handles.at(0)).value().date;
    EXPECT_GT(second, first);
    EXPECT_EQ(Text(Read(L"东门(一层).最后一个刷卡人卡片号码")), L"0012AB34");
    EXPECT_TRUE(doors_->node_text(doors_->door(0).swipe_time_node).starts_with("最后刷卡时间:20"));
}

TEST_F(ItemServerTest, SubscribedItemsFollowCardsAndTheLinkWithoutBeingPolled) {
    rate_ = 10;  // the fastest the item server allows
    const Added added = AddItems({L"东门(一层).最后一个刷卡人卡片号码", L"东门(一层).最后刷卡时间",
                                  L"西门(一层).门禁状态", L"东门(一层).IP"});
    ASSERT_EQ(added.errors, std::vector<HRESULT>(4, S_OK));
    EXPECT_EQ(server_->subscriptions(), 4u);
    const OPCHANDLE card = added.handles[0];
    const OPCHANDLE swipe = added.handles[1];
    const OPCHANDLE state = added.handles[2];
    const OPCHANDLE address = added.handles[3];
    const std::uint64_t reads = server_->item_reads();

    doors_->receive(CardAtTheFirstDoor());
    WORD quality = 0;
    EXPECT_EQ(Text(CacheRead(card, &quality)), L"0012AB34");
    EXPECT_EQ(quality, OPC_QUALITY_GOOD);
    const double swiped = CacheRead(swipe).value().date;
    EXPECT_GT(swiped, 40000.0);  // moved with the card

    // The link's loss changes every item's quality, even where no text changed.
    link_.raise_disconnection(kControllerIp, kControllerPort);
    EXPECT_EQ(Text(CacheRead(card, &quality)), L"没有监控");
    EXPECT_EQ(quality, OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(CacheRead(swipe, &quality).value().date, swiped);
    EXPECT_EQ(quality, OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(CacheRead(state, &quality).value().iVal, 2);
    EXPECT_EQ(quality, OPC_QUALITY_COMM_FAILURE);
    CacheRead(address, &quality);
    EXPECT_EQ(quality, OPC_QUALITY_GOOD);

    link_.raise_connection(kControllerIp, kControllerPort, true);
    EXPECT_EQ(CacheRead(state, &quality).value().iVal, 0);
    EXPECT_EQ(quality, OPC_QUALITY_GOOD);
    CacheRead(swipe, &quality);
    EXPECT_EQ(quality, OPC_QUALITY_GOOD);

    ASSERT_GT(revised_rate_, 0u);
    RunMessages(revised_rate_ * 2 + revised_rate_ / 2);  // two update ticks of the group
    EXPECT_EQ(server_->item_reads(), reads);
    // What the pushes left in the cache is what a device read gives.
    EXPECT_EQ(CacheRead(state).value().iVal, ReadHandle(state).value().iVal);
}

TEST_F(ItemServerTest, AnInactiveItemShowsTheDoorAsItIsWhenActivated) {
    const Added added = AddItems({L"东门(一层).最后一个刷卡人卡片号码"}, false);
    doors_->receive(CardAtTheFirstDoor());
    link_.raise_disconnection(kControllerIp, kControllerPort);
    HRESULT* errors = nullptr;
    OPCHANDLE handle = added.handles.at(0);
    ASSERT_EQ(Group()->SetActiveState(1, &handle, TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    WORD quality = 0;
    EXPECT_EQ(Text(CacheRead(handle, &quality)), L"没有监控");
    EXPECT_EQ(quality, OPC_QUALITY_COMM_FAILURE);
}

TEST_F(ItemServerTest, RemovedItemsAreUnsubscribedBeforeTheirHandlesGo) {
    Added added = AddItems({L"东门(一层).最后一个刷卡人卡片号码", L"东门(一层).门禁状态"});
    EXPECT_EQ(server_->subscriptions(), 2u);
    HRESULT* errors = nullptr;
    ASSERT_EQ(Group()->RemoveItems(1, &added.handles[0], &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(server_->subscriptions(), 1u);
    doors_->receive(CardAtTheFirstDoor());  // pushes only the item still there
    WORD quality = 0;
    CacheRead(added.handles[1], &quality);
    EXPECT_EQ(quality, OPC_QUALITY_GOOD);
    // The same item added again reads the card at once.
    EXPECT_EQ(Text(CacheRead(AddItems({L"东门(一层).最后一个刷卡人卡片号码"}).handles.at(0))),
              L"0012AB34");
    group_.reset();
    client_.reset();  // the client's groups and items go with it
    EXPECT_EQ(server_->subscriptions(), 0u);
    link_.raise_disconnection(kControllerIp, kControllerPort);  // nothing left to push to
}

TEST_F(ItemServerTest, ClientsGroupsAndItemsReachTheMonitor) {
    win::ComPtr<IOPCCommon> common;
    client_.query(common);
    EXPECT_EQ(common->SetClientName(L"scada"), S_OK);
    AddItems({L"东门(一层).门禁状态", L"西门(一层).门禁状态"});
    group_.reset();
    common.reset();
    client_.reset();
    EXPECT_EQ(monitor_.events,
              (std::vector<std::wstring>{L"client connected", L"name scada", L"group g",
                                         L"item added", L"item added", L"client disconnected",
                                         L"group removed g", L"item removed", L"item removed"}));
}

TEST_F(ItemServerTest, NamespaceAskedForBeforeTheDoorsFollowsThemWhenTheyArrive) {
    server_->attach(nullptr, &monitor_);
    EXPECT_EQ(Browse(L"东门(一层)"), nullptr);
    EXPECT_EQ(AddItems({L"东门(一层).门禁状态"}).errors.at(0), OPC_E_INVALIDITEMID);
    server_->attach(doors_.get(), &monitor_);
    EXPECT_NE(Browse(L"东门(一层).门禁状态"), nullptr);
    EXPECT_EQ(AddItems({L"东门(一层).门禁状态"}).errors.at(0), S_OK);
}

TEST_F(ItemServerTest, DetachedDoorsAreNeverTouchedAgain) {
    const Added added = AddItems({L"东门(一层).遥控开门"});
    server_->attach(nullptr, nullptr);
    WORD quality = 0;
    CacheRead(added.handles.at(0), &quality);  // the subscribed item went BAD at once
    EXPECT_EQ(quality, OPC_QUALITY_BAD);
    doors_.reset();                             // what the orderly exit does after detaching
    ReadHandle(added.handles.at(0), &quality);  // answered without touching the doors
    EXPECT_EQ(quality, OPC_QUALITY_BAD);
    EXPECT_EQ(WriteHandle(added.handles.at(0), win::Variant::i4(1)), E_FAIL);  // nothing done
    EXPECT_EQ(AddItems({L"东门(一层).门禁状态"}).errors.at(0), OPC_E_INVALIDITEMID);
}

}  // namespace
}  // namespace porvex::test
