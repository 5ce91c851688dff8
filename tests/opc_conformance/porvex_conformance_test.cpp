// The conformance calls against Porvex398.exe serving the doors of a SQLite door database
// with ctlsim as the controllers: every scenario from an STA client and from an MTA client
// through the proxy/stub DLL; the two transcripts must agree.
#include <gtest/gtest.h>

#include <memory>

#include "app_support.h"
#include "conformance_runs.h"
#include "ctlsim_driver.h"
#include "door_opc/porvex_server.h"
#include "shutdown_check.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"

namespace porvex::opc::conformance {
namespace {

using namespace std::chrono_literals;
namespace app = porvex::ui::testing;

constexpr char kDoorState[] = "门禁状态";
constexpr char kRemoteOpen[] = "遥控开门";
constexpr const char* kPoints[] = {"门禁状态", "遥控开门", "最后一个刷卡人卡片号码",
                                   "非法刷卡", "防拆报警", "门开关状态",
                                   "门磁报警"};

// The program under test, started at the first test that needs it and ended (through
// "OPC退出") after the last test of the program.
struct TPorvexUnderTest {
    TPorvexUnderTest() {
        app::RegisterOnce();
        app::WriteOneControllerSettings(dir.path(), sim.port(0), 2);
        program = std::make_unique<app::TPorvexApp>();
        ready = program->Window() != nullptr && sim.wait_upload(0, true, 20s);
    }
    porvex::test::TempDir dir;
    ctlsim::testing::Ctlsim sim{1};
    std::unique_ptr<app::TPorvexApp> program;
    bool ready = false;
};

std::unique_ptr<TPorvexUnderTest> porvex;

TPorvexUnderTest& Porvex() {
    if (!porvex) {
        porvex = std::make_unique<TPorvexUnderTest>();
    }
    return *porvex;
}

class TPorvexEnvironment final : public ::testing::Environment {
  public:
    void TearDown() override { porvex.reset(); }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new TPorvexEnvironment());

TTarget PorvexTarget() {
    TTarget target;
    target.items = {app::DoorItem(0, 0, kDoorState), app::DoorItem(0, 1, kDoorState)};
    for (int door = 0; door < 2; ++door) {
        for (const char* point : kPoints) {
            target.many.push_back(app::DoorItem(0, door, point));
        }
    }
    // Writing 0 releases a remote open: nothing is sent to the door.
    target.writable = app::DoorItem(0, 1, kRemoteOpen);
    target.write_value = win::Variant::i2(0);
    const std::wstring item = target.items[0];
    target.branch = item.substr(0, item.find_last_of(L'.'));
    return target;
}

class PorvexConformance : public ::testing::TestWithParam<std::size_t> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Porvex().ready) << "Porvex398 did not start serving its doors";
    }
};

TEST_P(PorvexConformance, StaAndMtaClientsGetTheSameAnswers) {
    const TScenario& scenario = Scenarios()[GetParam()];
    SCOPED_TRACE(scenario.name);
    const TTarget target = PorvexTarget();
    const TTranscript sta = RunSta(kPorvexServerClsid, target, scenario);
    const TTranscript mta = RunMta(kPorvexServerClsid, target, scenario);
    ASSERT_FALSE(sta.lines.empty());
    ExpectSame(sta, mta, "the MTA client");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PorvexConformance,
                         ::testing::Range<std::size_t>(0, Scenarios().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& scenario) {
                             return "Scenario" + std::to_string(scenario.param);
                         });

TEST(PorvexShutdown, TheRequestReachesStaAndMtaClients) {
    ASSERT_TRUE(Porvex().ready) << "Porvex398 did not start serving its doors";
    ExpectShutdownReachesStaAndMta(
        kPorvexServerClsid, [] { Porvex().program->Command(ui::kIdDisconnectAll); },
        ui::kShutdownReason);
}

}  // namespace
}  // namespace porvex::opc::conformance
