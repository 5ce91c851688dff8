// The conformance calls against the sample server: every scenario from an STA client and
// from an MTA client through the proxy/stub DLL, and against the same server in-process;
// the three transcripts must agree.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "../opc_remote/remote_support.h"
#include "conformance_runs.h"
#include "opc/async/group_async.h"
#include "opc/server_object/server_impl.h"
#include "shutdown_check.h"
#include "tools/opcsample/sample_server.h"

namespace porvex::opc::conformance {
namespace {

std::unique_ptr<sample::SampleServer> in_process;
// Keeps the sample server running between the tests (it ends with its last client).
win::ComPtr<IOPCServer> keeper;

// The sample server out of process (started by COM on the first activation, ended at the
// end) and the same item server in this process.
class TSampleEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        remote::EndSampleServers();
        remote::RegisterProxyDll();
        remote::RegisterSample();
        in_process = std::make_unique<sample::SampleServer>();
        InstallAsyncIO(*in_process);
        keeper = remote::ConnectSample();
    }
    void TearDown() override {
        keeper.reset();
        in_process.reset();
        remote::EndSampleServers();
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new TSampleEnvironment());

TTarget SampleTarget() {
    TTarget target;
    target.items = {L"Simulation.ReadOnly", L"Plant.Hall1.Pump1.Running"};
    for (int i = 0; i < 100; ++i) {
        wchar_t id[32];
        std::swprintf(id, 32, L"Load.Item%04d", i);
        target.many.push_back(id);
    }
    target.writable = L"Plant.Hall1.Pump1.Speed";
    target.write_value = win::Variant::r4(12.5f);
    target.branch = L"Plant";
    return target;
}

void Print(const char* what, const TTranscript& transcript) {
    if (GetEnvironmentVariableW(L"PORVEX_CONFORMANCE_PRINT", nullptr, 0) == 0) {
        return;
    }
    std::printf("---- %s\n", what);
    for (const std::string& line : transcript.lines) {
        std::printf("%s\n", line.c_str());
    }
}

class SampleConformance : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SampleConformance, StaMtaAndInProcessClientsGetTheSameAnswers) {
    const TScenario& scenario = Scenarios()[GetParam()];
    SCOPED_TRACE(scenario.name);
    const TTarget target = SampleTarget();
    const TTranscript local = RunWith(
        [] {
            win::ComPtr<IOPCServer> server;
            EXPECT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(server.put())),
                      S_OK);
            return server;
        },
        target, scenario);
    const TTranscript sta = RunSta(remote::kSampleClsid, target, scenario);
    const TTranscript mta = RunMta(remote::kSampleClsid, target, scenario);
    Print("in-process", local);
    Print("STA", sta);
    ASSERT_FALSE(local.lines.empty());
    ExpectSame(local, sta, "the STA client (through the proxy)");
    ExpectSame(local, mta, "the MTA client (through the proxy)");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SampleConformance,
                         ::testing::Range<std::size_t>(0, Scenarios().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& scenario) {
                             return "Scenario" + std::to_string(scenario.param);
                         });

TEST(SampleShutdown, TheRequestReachesStaAndMtaClients) {
    win::ComPtr<IOPCServer> writer = remote::ConnectSample();
    ASSERT_TRUE(writer);
    ExpectShutdownReachesStaAndMta(
        remote::kSampleClsid,
        [&] {
            EXPECT_EQ(remote::WriteItem(writer.get(), L"Control.Shutdown",
                                        win::Variant::string(L"conformance 维护")),
                      S_OK);
        },
        L"conformance 维护");
}

}  // namespace
}  // namespace porvex::opc::conformance
