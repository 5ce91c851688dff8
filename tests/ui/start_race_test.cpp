// One door server whatever the timing: clients that activate the OPC class in a tight loop
// while Porvex398.exe starts reach the one running copy (COM may launch a copy of its own
// in the first instant; it hands over and ends), only one process connects to the
// controllers, and "-exit" ends the program within its bound also after clients died
// holding objects.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app_support.h"
#include "ctlsim_driver.h"
#include "door_opc/porvex_server.h"
#include "process_list.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"

namespace porvex::ui::testing {
namespace {

std::vector<DWORD> PorvexProcesses() { return ctlsim::testing::ProcessesNamed(L"Porvex398.exe"); }

class StartRaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterOnce();
        ASSERT_TRUE(PorvexProcesses().empty()) << "a Porvex398 of an earlier test still runs";
        WriteOneControllerSettings(dir.path(), sim.port(0), 1);
    }

    test::TempDir dir;
    ctlsim::testing::Ctlsim sim{1};
};

TEST_F(StartRaceTest, ClientsActivatingWhileTheProgramStartsReachTheOneDoorServer) {
    std::atomic<bool> stop{false};
    std::atomic<int> served{0};
    std::atomic<int> refused{0};
    TPorvexApp app(Environment{{L"PORVEX_EXIT_WAIT_MS", L"1500"}});
    // At once, before the program can have registered its class with COM.
    std::thread clients([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            return;
        }
        while (!stop.load()) {
            win::ComPtr<IOPCServer> server;
            const HRESULT hr =
                CoCreateInstance(kPorvexServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                 reinterpret_cast<void**>(server.put()));
            (SUCCEEDED(hr) ? served : refused) += 1;
        }
        CoUninitialize();
    });
    // The program's window, in whichever copy won: on a slow first start COM's own copy
    // (-Embedding) can claim the door server first, and the copy started here then hands
    // over and ends.
    const bool shown = WaitFor(
        [] {
            HWND window = FindWindowW(kMainClassName, kMainCaption);
            return window != nullptr && IsWindowVisible(window);
        },
        30s);
    const bool uploading = shown && sim.wait_upload(0, true, 20s);
    Sleep(1000);
    stop = true;
    clients.join();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(uploading);
    RecordProperty("activations_served", served.load());
    RecordProperty("activations_refused", refused.load());
    EXPECT_GT(served.load(), 0);
    // A copy COM launched in the first instant has handed over and ended.
    EXPECT_TRUE(WaitFor([] { return PorvexProcesses().size() == 1; }, 35s))
        << PorvexProcesses().size() << " copies of Porvex398 run";
    const auto info = sim.info(0);
    EXPECT_EQ(info.at("connections"), "1") << "more than one process connected to the controller";
    EXPECT_EQ(info.at("rejected"), "0");

    ctlsim::testing::ChildProcess exit(TreeProgram("Porvex398.exe"), {"-exit"});
    EXPECT_EQ(exit.wait(40s).value_or(-1), 0);
    EXPECT_TRUE(WaitFor([] { return PorvexProcesses().empty(); }, 5s));
}

TEST_F(StartRaceTest, ACopyStartedByHandKeepsTheCopyComStartedRunningAfterItsLastClient) {
    // The copy COM starts for a client, serving; then a user starts the program by hand.
    TPorvexApp com_copy(Environment{{L"PORVEX_EXIT_WAIT_MS", L"1500"}}, L"-Embedding");
    ASSERT_TRUE(sim.wait_upload(0, true, 30s));  // it serves before it connects
    win::ComPtr<IOPCServer> client = ConnectPorvex();
    ASSERT_TRUE(client);
    TPorvexApp by_hand;
    EXPECT_EQ(by_hand.WaitExit(40s).value_or(99), 0u) << "the copy started by hand handed over";
    // The last client goes: the program the user asked for stays.
    client = nullptr;
    Sleep(2000);
    EXPECT_TRUE(com_copy.Running()) << "the program ended with its last client";
    EXPECT_TRUE(static_cast<bool>(ConnectPorvex()));
    EXPECT_EQ(PorvexProcesses().size(), 1u);
    EXPECT_EQ(sim.info(0).at("connections"), "1");
}

TEST_F(StartRaceTest, ExitEndsTheProgramAfterAClientDiedHoldingItsObjects) {
    TPorvexApp app(Environment{{L"PORVEX_EXIT_WAIT_MS", L"1500"}});
    ASSERT_NE(app.Window(), nullptr);
    ASSERT_TRUE(sim.wait_upload(0, true, 20s));
    {
        ctlsim::testing::ChildProcess sub(TreeProgram("opcclient.exe"),
                                          {"subscribe", kProgId, "--rate", "200"});
        const std::string first = Utf8(DoorItem(0, 0, "门禁状态")) + " = ";
        bool subscribed = false;
        for (int i = 0; i < 50 && !subscribed; ++i) {
            const std::optional<std::string> line = sub.read_line(20s);
            if (!line) {
                break;
            }
            subscribed = line->find(first) != std::string::npos;
        }
        ASSERT_TRUE(subscribed);
        sub.kill();  // gone without releasing its objects
    }
    const auto start = std::chrono::steady_clock::now();
    ctlsim::testing::ChildProcess exit(TreeProgram("Porvex398.exe"), {"-exit"});
    EXPECT_EQ(exit.wait(40s).value_or(-1), 0);
    EXPECT_TRUE(app.WaitExit(5s).has_value());
    // The wait for clients (1.5 s) and the grace of the end (15 s).
    EXPECT_LT(std::chrono::steady_clock::now() - start, 17s);
}

}  // namespace
}  // namespace porvex::ui::testing
