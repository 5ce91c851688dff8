// The door server's item server through real COM in the test's apartment: the namespace
// it builds from the doors, item resolution, reads and remote-open writes as a client sees
// them, and the notifications it hands to the monitor window.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "door_server.h"
#include "fake_link.h"
#include "item_server/porvex_server.h"
#include "opc/com/com_ptr.h"
#include "opc/com/variant.h"
#include "opc/idl/opc_errors.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/namespace/namespace_node.h"
#include "opc/server/server_impl.h"

namespace porvex::test {
namespace {

using opc::TComPtr;
using opc::TVariant;

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
        server_ = std::make_unique<PorvexServer>();
        server_->attach(doors_.get(), &monitor_);
        client_ = Connect();
    }

    void TearDown() override {
        group_.Reset();
        client_.Reset();
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

    TComPtr<IOPCServer> Connect() {
        TComPtr<IOPCServer> server;
        EXPECT_EQ(opc::CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(server.Put())),
                  S_OK);
        return server;
    }

    IOPCItemMgt* Group() {
        if (!group_) {
            OPCHANDLE handle = 0;
            DWORD rate = 0;
            EXPECT_EQ(
                client_->AddGroup(L"g", TRUE, 1000, 1, nullptr, nullptr, 0x409, &handle, &rate,
                                  IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group_.Put())),
                S_OK);
        }
        return group_.Get();
    }

    Added AddItems(const std::vector<std::wstring>& ids) {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
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

    // A device read of an added item as the client sees it (S_OK expected).
    TVariant ReadHandle(OPCHANDLE handle) {
        TComPtr<IOPCSyncIO> io;
        group_.As(io);
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors), S_OK);
        TVariant value(states[0].vDataValue);
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return value;
    }

    HRESULT WriteHandle(OPCHANDLE handle, const TVariant& value) {
        TComPtr<IOPCSyncIO> io;
        group_.As(io);
        HRESULT* errors = nullptr;
        VARIANT raw = value.Get();
        const HRESULT hr = io->Write(1, &handle, &raw, &errors);
        CoTaskMemFree(errors);
        return hr;
    }

    TVariant Read(const std::wstring& id) {
        const Added added = AddItems({id});
        EXPECT_EQ(added.errors.at(0), S_OK) << "item " << std::string(id.begin(), id.end());
        return ReadHandle(added.handles.at(0));
    }

    HRESULT Write(const std::wstring& id, const TVariant& value) {
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
    TComPtr<IOPCServer> client_;
    TComPtr<IOPCItemMgt> group_;
};

std::wstring Text(const TVariant& v) {
    return v.Type() == VT_BSTR ? std::wstring(v.Get().bstrVal) : L"<not a string>";
}

TEST_F(ItemServerTest, NamespaceHasOneBranchPerDoorWithItsEnabledPoints) {
    opc::TNamespaceNode* door = Browse(L"东门(一层)");
    ASSERT_NE(door, nullptr);
    EXPECT_TRUE(door->IsBranch());
    EXPECT_EQ(door->ChildCount(), 7);  // the address leaves are not browsable
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

TEST_F(ItemServerTest, DoorsOfOneNameShareABranchAndTheNamespaceEndsAtTheDuplicate) {
    TearDown();
    Make(PointSet::all(), {Row("东门", "一层", 1), Row("东门", "一层", 2), Row("南门", "二层", 4)});
    opc::TNamespaceNode* door = Browse(L"东门(一层)");
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(door->ChildCount(), 7);
    EXPECT_EQ(Browse(L"南门(二层)"), nullptr);  // the walk stopped at the duplicate
    ASSERT_EQ(monitor_.log.size(), 1u);
    EXPECT_EQ(monitor_.log[0].rfind(L"OPC客户端查询监控量异常(", 0), 0u);
    EXPECT_NE(monitor_.log[0].find(L"):"), std::wstring::npos);

    // Item IDs of such doors reach the first door's leaves; the third door still resolves.
    EXPECT_EQ(Write(L"东门(一层).遥控开门", TVariant::I4(1)), S_OK);
    EXPECT_EQ(link_.sent().size(), 1u);
    EXPECT_EQ(doors_->node_text(doors_->door(0).RemoteOpenNode), "遥控开门:锁定");
    EXPECT_EQ(doors_->node_text(doors_->door(1).RemoteOpenNode), "遥控开门:成功");
    EXPECT_EQ(AddItems({L"南门(二层).门禁状态"}).errors.at(0), S_OK);
}

TEST_F(ItemServerTest, ItemIdsResolveExactlyIncludingTheAddressLeaves) {
    const Added added = AddItems({L"东门(一层).门禁状态", L"东门(一层).门禁状态 ", L"东门(一层)",
                                  L"东门(一层).端口号", L"东门(一层).IP", L"西门(一层).ip"});
    EXPECT_EQ(added.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID,
                                                  S_OK, S_OK, OPC_E_INVALIDITEMID}));
    EXPECT_EQ(Read(L"东门(一层).端口号").Get().lVal, kControllerPort);
    EXPECT_EQ(Text(Read(L"东门(一层).IP")), L"10.1.1.5");
}

TEST_F(ItemServerTest, ReadsShowThePointValuesInTheirTypes) {
    TVariant state = Read(L"东门(一层).门禁状态");
    EXPECT_EQ(state.Type(), VT_I4);
    EXPECT_EQ(Text(Read(L"东门(一层).最后一个刷卡人卡片号码")), L"0");

    // The controller's link goes down: the word and card points say so.
    link_.raise_connection(kControllerIp, kControllerPort, false);
    EXPECT_EQ(Read(L"东门(一层).门禁状态").Get().lVal, 2);
    EXPECT_EQ(Read(L"东门(一层).防拆报警").Get().lVal, 2);
    EXPECT_EQ(Text(Read(L"西门(一层).最后一个刷卡人卡片号码")), L"没有监控");
    EXPECT_EQ(Read(L"东门(一层).遥控开门").Get().lVal, 0);
}

TEST_F(ItemServerTest, RemoteOpenWritesSendOneCommandAndReadBackTheirState) {
    EXPECT_EQ(Write(L"西门(一层).遥控开门", TVariant::I4(1)), S_OK);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").Get().lVal, 2);
    EXPECT_EQ(Write(L"西门(一层).遥控开门", TVariant::I4(1)), S_OK);
    ASSERT_EQ(link_.sent().size(), 1u);
    EXPECT_EQ(link_.sent()[0].cmd, 0x20);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").Get().lVal, 2);

    TZorvikRecvData reply;
    reply.IP = kControllerIp;
    reply.Port = kControllerPort;
    reply.ApCode = link_.sent()[0].ap_code;
    reply.Cmd = 32;
    doors_->receive(reply);
    EXPECT_EQ(Read(L"西门(一层).遥控开门").Get().lVal, 0);
    EXPECT_EQ(Read(L"西门(一层).门开关状态").Get().lVal, 1);

    // Any other value fails at once and sends nothing; writes elsewhere are ignored.
    EXPECT_EQ(Write(L"东门(一层).遥控开门", TVariant::I4(0)), S_OK);
    EXPECT_EQ(Read(L"东门(一层).遥控开门").Get().lVal, 1);
    EXPECT_EQ(Write(L"东门(一层).门禁状态", TVariant::I4(1)), S_OK);
    EXPECT_EQ(link_.sent().size(), 1u);
}

TEST_F(ItemServerTest, ClientsGroupsAndItemsReachTheMonitor) {
    TComPtr<IOPCCommon> common;
    client_.As(common);
    EXPECT_EQ(common->SetClientName(L"scada"), S_OK);
    AddItems({L"东门(一层).门禁状态", L"西门(一层).门禁状态"});
    group_.Reset();
    common.Reset();
    client_.Reset();
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
    doors_.reset();                   // what the orderly exit does after detaching
    ReadHandle(added.handles.at(0));  // answered without touching the doors
    EXPECT_EQ(WriteHandle(added.handles.at(0), TVariant::I4(1)), S_OK);
    EXPECT_EQ(AddItems({L"东门(一层).门禁状态"}).errors.at(0), OPC_E_INVALIDITEMID);
}

}  // namespace
}  // namespace porvex::test
