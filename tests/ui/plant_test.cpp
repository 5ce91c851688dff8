// Porvex398 serving a plant of two simulated controllers with two doors each, from a
// SQLite door database: start-up, the connect pass, reports reaching a subscribed client,
// remote opens, a controller going down and coming back, and the window's rendering.
//
// The tests of this suite run in order on one program instance. The door model's clock
// is a manual one (PORVEX_MANUAL_CLOCK), moved by a window message, so the 10-second
// remote-open time-out needs no real wait. The controller access library inside the
// program keeps real time: a lost controller is retried 30 s after the last attempt,
// which the last test waits for (the suite takes the controller down early so that this
// wait overlaps the other tests).
#include <gtest/gtest.h>

#include <cstdlib>

#include "app_support.h"
#include "ctlsim_driver.h"
#include "opc/idl/opc_errors.h"
#include "sample_door_db.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"

namespace porvex::ui::testing {
namespace {

constexpr char kDoorState[] = "门禁状态";
constexpr char kRemoteOpen[] = "遥控开门";
constexpr char kLastCard[] = "最后一个刷卡人卡片号码";
constexpr char kInvalidCard[] = "非法刷卡";
constexpr char kTamper[] = "防拆报警";
constexpr char kDoorOpen[] = "门开关状态";
constexpr char kContactAlarm[] = "门磁报警";
constexpr char kSwipeTime[] = "最后刷卡时间";

std::string ItemUtf8(int controller, int door, const char* point) {
    return Utf8(DoorItem(controller, door, point));
}

struct Plant {
    test::TempDir dir;
    ctlsim::testing::Ctlsim sim{2};
    std::unique_ptr<TPorvexApp> app;
    win::ComPtr<IOPCServer> client;
    // Subscribed to controller 1's door-state item while it goes down.
    std::unique_ptr<TClientProcess> watcher;
};

class PlantTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        plant = new Plant;
        RegisterOnce();
        const std::filesystem::path db = plant->dir.path() / "doors.db";
        SampleDoorDbOptions options;
        options.controllers = 2;
        options.doors_per_controller = 2;
        options.ports.assign(plant->sim.ports().begin(), plant->sim.ports().end());
        create_sample_door_db(db, options);
        WriteSettings(SqliteSettings(db.wstring()));
        plant->app = std::make_unique<TPorvexApp>(
            Environment{{L"PORVEX_MANUAL_CLOCK", L"1"}, {L"PORVEX_EXIT_WAIT_MS", L"5000"}});
        ASSERT_NE(plant->app->Window(), nullptr);
        plant->client = ConnectPorvex();
    }
    static void TearDownTestSuite() {
        plant->watcher.reset();
        plant->client.reset();
        if (plant->app) {
            plant->app->Command(kIdMenuExit);
            EXPECT_EQ(plant->app->WaitExit(20s).value_or(99), 0u);
        }
        delete plant;
        plant = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(plant->app && plant->app->Running());
        ASSERT_TRUE(plant->client);
    }
    IOPCServer* Client() { return plant->client.get(); }
    ctlsim::testing::Ctlsim& Sim() { return plant->sim; }
    TPorvexApp& App() { return *plant->app; }

    static inline Plant* plant = nullptr;
};

TEST_F(PlantTest, StartUpLoadsTheDoorsIntoTheTreeAndTheNamespace) {
    // Four doors, each with its address leaves, seven points and the swipe time.
    EXPECT_TRUE(WaitFor([&] { return TreeCount(App().Control(kIdServerTree)) == 4 * 11; }, 5s))
        << TreeCount(App().Control(kIdServerTree));
    TClientProcess browse({"browse", kProgId, "--flat"});
    browse.WaitLine({"\x01 end of output"}, 20s);
    EXPECT_EQ(browse.Wait(5s).value_or(-1), 0);
    int items = 0;
    for (const std::string& line : browse.Lines()) {
        items += line.find("(") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(items, 4 * 8);
    const auto has = [&](const std::string& id) {
        for (const std::string& line : browse.Lines()) {
            if (line.find(id) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has(ItemUtf8(1, 1, kContactAlarm)));
    EXPECT_FALSE(has(ItemUtf8(0, 0, "端口号")));  // resolvable, not browsable

    TClientProcess status({"status", kProgId});
    EXPECT_TRUE(status.WaitLine({"version", "2.1.1207"}, 20s));
    EXPECT_EQ(status.Wait(10s).value_or(-1), 0);
}

TEST_F(PlantTest, TheConnectPassBringsTheLinksUpAndEnablesUpload) {
    EXPECT_TRUE(Sim().wait_upload(0, true, 20s));
    EXPECT_TRUE(Sim().wait_upload(1, true, 20s));
    for (int c = 0; c < 2; ++c) {
        for (int d = 0; d < 2; ++d) {
            EXPECT_TRUE(WaitNumber(Client(), DoorItem(c, d, kDoorState), 0)) << c << "/" << d;
        }
    }
}

TEST_F(PlantTest, AControllerThatGoesDownShowsNotMonitored) {
    ASSERT_TRUE(Sim().wait_upload(1, true, 20s));
    const std::string state = ItemUtf8(1, 0, kDoorState);
    plant->watcher = std::make_unique<TClientProcess>(
        std::vector<std::string>{"subscribe", kProgId, state, "--rate", "100"});
    ASSERT_TRUE(plant->watcher->WaitLine({state + " = 0 (I2) quality=good"}, 20s));
    EXPECT_EQ(ReadQuality(Client(), DoorItem(1, 0, kDoorState)), OPC_QUALITY_GOOD);
    Sim().fault(1, "refuse on");
    Sim().ok("disconnect 1");
    // The loss is a data change: same kind of value, now with a BAD quality.
    EXPECT_TRUE(plant->watcher->WaitLine({state + " = 2 (I2) quality=bad:comm-failure"}));
    plant->watcher.reset();  // the later tests count the clients
    EXPECT_TRUE(WaitNumber(Client(), DoorItem(1, 0, kDoorState), 2));
    EXPECT_EQ(ReadQuality(Client(), DoorItem(1, 0, kDoorState)), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(ReadQuality(Client(), DoorItem(1, 1, kLastCard)), OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(ReadQuality(Client(), DoorItem(0, 0, kDoorState)), OPC_QUALITY_GOOD);
    EXPECT_TRUE(WaitNumber(Client(), DoorItem(1, 1, kTamper), 2));
    EXPECT_EQ(ReadText(Client(), DoorItem(1, 0, kLastCard)), L"没有监控");
    EXPECT_EQ(ReadText(Client(), DoorItem(1, 1, kInvalidCard)), L"没有监控");
    EXPECT_EQ(ReadNumber(Client(), DoorItem(1, 0, kDoorOpen)), -1);
    EXPECT_EQ(ReadNumber(Client(), DoorItem(1, 0, kContactAlarm)), -1);
    // Controller 0 is untouched.
    EXPECT_EQ(ReadNumber(Client(), DoorItem(0, 0, kDoorState)), 0);

    // A remote open now fails at once, in every way a client can write, and nothing is
    // kept to be sent when the controller returns (the last test looks for it).
    Sim().clear_received(1);
    const std::wstring open = DoorItem(1, 0, kRemoteOpen);
    EXPECT_EQ(WriteItem(Client(), open, win::Variant::i2(1)), E_FAIL);
    EXPECT_EQ(ReadNumber(Client(), open), 1);
    for (const char* transport : {"--async", "--da1"}) {
        TClientProcess write({"write", kProgId, ItemUtf8(1, 1, kRemoteOpen) + "=1", transport});
        EXPECT_TRUE(write.WaitLine({ItemUtf8(1, 1, kRemoteOpen) + " error 0x80004005"}, 20s))
            << transport;
        EXPECT_EQ(write.Wait(10s).value_or(-1), 1) << transport;
    }
    EXPECT_EQ(ReadNumber(Client(), DoorItem(1, 1, kRemoteOpen)), 1);

    // It may come back: the library retries by itself (see the last test).
    Sim().fault(1, "refuse off");
}

TEST_F(PlantTest, ReportsReachASubscribedClient) {
    ASSERT_TRUE(Sim().wait_upload(0, true, 20s));
    const std::string card = ItemUtf8(0, 0, kLastCard);
    // This program is a client as well: its own node stays.
    const int base = TreeCount(App().Control(kIdClientTree));
    EXPECT_GE(base, 1);
    TClientProcess sub({"subscribe", kProgId, "--rate", "100"});
    ASSERT_TRUE(sub.WaitLine({card + " = "}, 20s));
    // The client tree shows the client, its group and its 32 items.
    EXPECT_TRUE(WaitFor([&] { return TreeCount(App().Control(kIdClientTree)) == base + 34; }, 10s))
        << TreeCount(App().Control(kIdClientTree));

    sub.Mark();
    Sim().ok("card 0 0012ab34:1:granted");
    EXPECT_TRUE(sub.WaitLine({card + " = \"0012AB34\""}));
    EXPECT_TRUE(sub.WaitLine({ItemUtf8(0, 0, kDoorOpen) + " = 1 ("}));

    // The same card again: the card number stays, the swipe time tells the new read.
    const std::string swipe = ItemUtf8(0, 0, kSwipeTime);
    sub.Mark();
    Sim().ok("card 0 0012ab34:1:granted");
    EXPECT_TRUE(sub.WaitLine({swipe + " = 20", "(DATE) quality=good"}));

    sub.Mark();
    Sim().ok("card 0 00abcdef:2:refused");
    EXPECT_TRUE(sub.WaitLine({ItemUtf8(0, 1, kInvalidCard) + " = \"00ABCDEF\""}));

    // A door-contact alarm: forced entry (1) for a closed door, held open (2) for a door
    // whose state the status poll has not told yet.
    const std::string contact = ItemUtf8(0, 1, kContactAlarm);
    sub.Mark();
    Sim().ok("door-events 0 alarm=2");
    EXPECT_TRUE(sub.WaitLineWhere([&](const std::string& line) {
        return line.starts_with(contact + " = 1 (") || line.starts_with(contact + " = 2 (");
    }));
    sub.Mark();
    Sim().ok("alarms-cleared 0 2");
    EXPECT_TRUE(sub.WaitLine({contact + " = 0 ("}));

    sub.Mark();
    Sim().ok("tamper 0 1");
    EXPECT_TRUE(sub.WaitLine({ItemUtf8(0, 1, kTamper) + " = 1 ("}));

    // "断开所有的客户端" asks the client to go; opcclient ends with code 4 and the
    // client tree empties.
    App().Command(kIdDisconnectAll);
    EXPECT_EQ(sub.Wait(15s).value_or(-1), 4);
    EXPECT_TRUE(WaitFor([&] { return TreeCount(App().Control(kIdClientTree)) == base; }, 10s))
        << TreeCount(App().Control(kIdClientTree));
}

TEST_F(PlantTest, MinimisingHidesToTheTrayAndShowingAgainNeverReconnects) {
    HWND window = App().Window();
    ASSERT_NE(window, nullptr);
    const std::string before = Sim().info(0)["connections"];
    PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    // Hidden to the tray, or minimised where the system has no notification area.
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(window) || IsIconic(window); }, 5s));
    EXPECT_TRUE(App().Running());
    App().Command(kIdMenuShow);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) && !IsIconic(window); }, 5s));
    Sleep(500);  // a connect pass would start 100 ms after a show
    EXPECT_EQ(Sim().info(0)["connections"], before);
    EXPECT_EQ(ReadNumber(Client(), DoorItem(0, 0, kDoorState)).has_value(), true);
}

TEST_F(PlantTest, WritingOneToRemoteOpenOpensTheDoor) {
    ASSERT_TRUE(Sim().wait_upload(0, true, 20s));
    Sim().clear_received(0);
    const std::wstring item = DoorItem(0, 1, kRemoteOpen);
    ASSERT_EQ(WriteItem(Client(), item, win::Variant::i2(1)), S_OK);
    ASSERT_TRUE(Sim().wait_received(0, 0x20, 1, 10s));
    const auto frames = Sim().received(0);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().cmd, 0x20);
    EXPECT_TRUE(WaitNumber(Client(), item, 0));
    EXPECT_EQ(ReadNumber(Client(), DoorItem(0, 1, kDoorOpen)), 1);

    // Any other value is a failure at once, with nothing sent.
    Sim().clear_received(0);
    ASSERT_EQ(WriteItem(Client(), item, win::Variant::i2(0)), S_OK);
    EXPECT_EQ(ReadNumber(Client(), item), 1);
    EXPECT_FALSE(Sim().wait_received(0, 0x20, 1, 500ms));

    // The other points are read-only: a write is refused and changes nothing.
    EXPECT_EQ(WriteItem(Client(), DoorItem(0, 1, kDoorState), win::Variant::i2(1)),
              OPC_E_BADRIGHTS);
    EXPECT_EQ(ReadNumber(Client(), DoorItem(0, 1, kDoorState)), 0);
}

TEST_F(PlantTest, ARemoteOpenWithoutReplyFailsTenSecondsLater) {
    ASSERT_TRUE(Sim().wait_upload(0, true, 20s));
    Sim().ok("reply 0 0x20 silent");
    Sim().clear_received(0);
    const std::wstring item = DoorItem(0, 0, kRemoteOpen);
    ASSERT_EQ(WriteItem(Client(), item, win::Variant::i2(1)), S_OK);
    ASSERT_TRUE(Sim().wait_received(0, 0x20, 1, 10s));
    EXPECT_EQ(ReadNumber(Client(), item), 2);  // pending
    // Nine seconds on: still pending; past ten seconds the next tick declares failure.
    ASSERT_EQ(SendMessageW(App().Window(), kMsgAdvanceClock, 9, 0), 1);
    Sleep(2500);
    EXPECT_EQ(ReadNumber(Client(), item), 2);
    ASSERT_EQ(SendMessageW(App().Window(), kMsgAdvanceClock, 2, 0), 1);
    EXPECT_TRUE(WaitNumber(Client(), item, 1, 6s));
    Sim().ok("reply 0 * default");
}

TEST_F(PlantTest, TheWindowRendersItsTabs) {
    HWND window = App().Window();
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(1000);
    const TCapture capture = CaptureWindow(window);
    ASSERT_GT(capture.width, 400);
    ASSERT_GT(capture.height, 450);
    if (const char* folder = std::getenv("PORVEX_BUILD_DIR")) {
        capture.SaveBmp(std::filesystem::path(folder) / "porvex398-window.bmp");
    }
    // Not blank: the tab strip (captions on differently coloured tabs) and the tree.
    const int frame_top = capture.height - 473;
    EXPECT_GT(capture.DistinctColours(RECT{0, frame_top, capture.width, frame_top + 30}), 4u);
    EXPECT_GT(capture.DistinctColours(RECT{0, 0, capture.width, capture.height}), 8u);
}

TEST_F(PlantTest, AControllerThatWentDownComesBack) {
    // The library retries 30 s after its last attempt; its doors return to normal.
    EXPECT_TRUE(Sim().wait_upload(1, true, 45s));
    EXPECT_TRUE(WaitNumber(Client(), DoorItem(1, 0, kDoorState), 0, 10s));
    EXPECT_EQ(ReadText(Client(), DoorItem(1, 0, kLastCard)), L"0");
    EXPECT_EQ(ReadNumber(Client(), DoorItem(1, 1, kTamper)), 0);
    EXPECT_EQ(ReadQuality(Client(), DoorItem(1, 0, kDoorState)), OPC_QUALITY_GOOD);
    if (plant->watcher) {
        EXPECT_TRUE(
            plant->watcher->WaitLine({ItemUtf8(1, 0, kDoorState) + " = 0 (I2) quality=good"}));
    }
    // The remote opens written while it was down never reach it, not even late.
    Sleep(2000);
    for (const auto& frame : Sim().received(1)) {
        EXPECT_NE(frame.cmd, 0x20) << "a remote open reached the controller after its return";
    }
    EXPECT_EQ(ReadNumber(Client(), DoorItem(1, 0, kRemoteOpen)), 1);
}

}  // namespace
}  // namespace porvex::ui::testing
