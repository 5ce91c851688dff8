#include "remote_fixture.h"

#include "win/task_memory.h"

namespace porvex::opc::remote {
namespace {

win::ComPtr<IOPCServer> sample;

class TSampleEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        // A server left from an earlier run would not start with this run's switches.
        EndSampleServers();
        RegisterProxyDll();
        RegisterSample();
        sample = ConnectSample();
        ASSERT_TRUE(sample) << "the sample server could not be activated";
    }
    void TearDown() override {
        sample.reset();
        // The clients the tests killed keep their objects under Wine: end the server.
        test::PumpUntil([] { return SampleServerProcesses().empty(); }, 2000);
        EndSampleServers();
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new TSampleEnvironment());

}  // namespace

IOPCServer* Sample() { return sample.get(); }

std::vector<HRESULT> TakeErrors(HRESULT* errors, std::size_t count) {
    std::vector<HRESULT> out(errors, errors + (errors ? count : 0));
    CoTaskMemFree(errors);
    return out;
}

RemoteTest::~RemoteTest() = default;

TRemoteGroup RemoteTest::MakeGroup(const std::vector<std::wstring>& ids, DWORD rateMs, bool active,
                                   bool itemsActive) {
    TRemoteGroup group;
    DWORD revised = 0;
    EXPECT_TRUE(SUCCEEDED(Sample()->AddGroup(L"", active, rateMs, 77, nullptr, nullptr, 0,
                                             &group.handle, &revised, IID_IOPCItemMgt,
                                             reinterpret_cast<IUnknown**>(group.items.put()))));
    if (!group.items) {
        return group;
    }
    group.items.query(group.state);
    group.items.query(group.sync);
    group.items.query(group.async2);
    group.items.query(group.async1);
    group.items.query(group.data);
    if (ids.empty()) {
        return group;
    }
    std::vector<OPCITEMDEF> definitions(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        definitions[i].bActive = itemsActive;
        definitions[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    win::UniqueCoTaskMem<OPCITEMRESULT> results;
    win::UniqueCoTaskMem<HRESULT> errors;
    EXPECT_EQ(group.items->AddItems(static_cast<DWORD>(ids.size()), definitions.data(),
                                    results.put(), errors.put()),
              S_OK);
    if (results.get()) {
        for (std::size_t i = 0; i < ids.size(); ++i) {
            group.handles.push_back(results[i].hServer);
        }
    }
    return group;
}

void RemoteTest::Remove(TRemoteGroup& group) {
    const OPCHANDLE handle = group.handle;
    group = TRemoteGroup();
    if (handle != 0) {
        Sample()->RemoveGroup(handle, TRUE);
    }
}

}  // namespace porvex::opc::remote
