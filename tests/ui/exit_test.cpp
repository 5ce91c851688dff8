// "OPC退出": connected clients are asked to disconnect and the program ends once they
// did; a client that never lets go keeps it only until the bound (here 1.5 s through
// PORVEX_EXIT_WAIT_MS instead of 30 s).
#include <gtest/gtest.h>

#include "app_support.h"
#include "ctlsim_driver.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"

namespace porvex::ui::testing {
namespace {

class ExitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterOnce();
        WriteOneControllerSettings(dir.path(), sim.port(0), 1);
    }

    test::TempDir dir;
    ctlsim::testing::Ctlsim sim{1};
};

TEST_F(ExitTest, OpcExitAsksAConnectedClientToDisconnectAndEnds) {
    TPorvexApp app(Environment{{L"PORVEX_EXIT_WAIT_MS", L"20000"}});
    ASSERT_NE(app.Window(), nullptr);
    ASSERT_TRUE(sim.wait_upload(0, true, 20s));
    TClientProcess sub({"subscribe", kProgId, "--rate", "200"});
    ASSERT_TRUE(sub.WaitLine({Utf8(DoorItem(0, 0, "门禁状态")) + " = 0"}, 20s));

    // The script's way: "Porvex398 -exit" posts the "OPC退出" command and waits.
    ctlsim::testing::ChildProcess exit(TreeProgram("Porvex398.exe"), {"-exit"});
    EXPECT_EQ(sub.Wait(15s).value_or(-1), 4);  // the server asked it to disconnect
    EXPECT_EQ(app.WaitExit(15s).value_or(99), 0u);
    EXPECT_EQ(exit.wait(15s).value_or(-1), 0);
    // The controller side was stopped: the link closed.
    EXPECT_TRUE(sim.wait_connected(0, false, 10s));
}

TEST_F(ExitTest, TheExitSwitchWithoutARunningProgramFails) {
    ctlsim::testing::ChildProcess exit(TreeProgram("Porvex398.exe"), {"-exit"});
    EXPECT_EQ(exit.wait(15s).value_or(-1), 1);
}

TEST_F(ExitTest, AClientThatNeverLetsGoKeepsTheProgramOnlyUntilTheBound) {
    TPorvexApp app(Environment{{L"PORVEX_EXIT_WAIT_MS", L"1500"}});
    ASSERT_NE(app.Window(), nullptr);
    // A client without a shutdown sink: asking it changes nothing.
    win::ComPtr<IOPCServer> client = ConnectPorvex();
    ASSERT_TRUE(client);
    ASSERT_TRUE(WaitFor([&] { return TreeCount(app.Control(kIdClientTree)) == 1; }, 10s));

    const auto start = std::chrono::steady_clock::now();
    app.Command(kIdMenuExit);
    // While it waits the window stays responsive.
    Sleep(500);
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(app.Window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);
    EXPECT_TRUE(app.Running());
    EXPECT_EQ(app.WaitExit(15s).value_or(99), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
    client.detach();  // its server is gone; a release would only wait for the dead process
}

}  // namespace
}  // namespace porvex::ui::testing
