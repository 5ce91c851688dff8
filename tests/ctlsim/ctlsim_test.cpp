// The simulator program over real loopback sockets, driven through its control port.
// Runs natively and, in the Windows tree, against ctlsim.exe under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "child_process.h"
#include "ctlsim_driver.h"
#include "frame/frame.h"
#include "frame/packets.h"
#include "host_link.h"

namespace ctlsim::testing {
namespace {

namespace zf = zorvik::frame;
using namespace std::chrono_literals;

const Bytes kEnable(zf::kUploadEnable.begin(), zf::kUploadEnable.end());
const Bytes kDisable(zf::kUploadDisable.begin(), zf::kUploadDisable.end());
const Bytes kAck(zf::kUploadAck.begin(), zf::kUploadAck.end());

Bytes frame(std::uint8_t cmd, std::uint32_t ap, std::uint32_t psw, const Bytes& data = {}) {
    return zf::build_frame(cmd, ap, psw, data);
}

class CtlsimTest : public ::testing::Test {
  protected:
    Ctlsim sim{2};

    // A link to controller ctl with upload enabled.
    std::unique_ptr<HostLink> uploading_link(std::size_t ctl) {
        auto link = std::make_unique<HostLink>(sim.port(ctl));
        link->send(kEnable);
        EXPECT_EQ(link->read_exact(4), kAck);
        return link;
    }
};

TEST_F(CtlsimTest, AnswersEachHostCommandEchoingApCodeAndPsw) {
    HostLink link(sim.port(0));
    link.send(frame(0x10, 0x0102, 0x030405));
    EXPECT_EQ(link.read_frame(), frame(0x10, 0x0102, 0x030405));
    link.send(frame(0x11, 7, 1, {0x21, 0x03, 0x07, 0x00, 0x09, 0x05, 0x02}));
    EXPECT_EQ(link.read_frame(), frame(0x11, 7, 1));
    link.send(frame(0x20, 65535, 0xFFFFFF, {0x01}));
    EXPECT_EQ(link.read_frame(), frame(0x20, 65535, 0xFFFFFF));
    sim.ok("status 0 0x81");
    link.send(frame(0x21, 9, 0, {0x01}));
    EXPECT_EQ(link.read_frame(), frame(0x21, 9, 0, {0x81}));

    const auto info = sim.info(0);
    EXPECT_EQ(info.at("time"), "2021-03-07T09:05:02");
    EXPECT_EQ(info.at("weekday"), "0");
    EXPECT_EQ(info.at("frames"), "4");
}

TEST_F(CtlsimTest, ReplyRulesGiveAFailedRemoteOpenOrNoAnswer) {
    HostLink link(sim.port(0));
    sim.ok("reply 0 0x20 0x22");
    link.send(frame(0x20, 3, 0, {0x01}));
    EXPECT_EQ(link.read_frame(), frame(0x22, 3, 0));
    sim.ok("reply 0 0x21 silent");
    link.send(frame(0x21, 4, 0, {0x01}));
    EXPECT_FALSE(link.read_frame(150ms));
    sim.ok("reply 0 * default");
    link.send(frame(0x20, 5, 0, {0x01}));
    EXPECT_EQ(link.read_frame(), frame(0x20, 5, 0));
}

TEST_F(CtlsimTest, ReportsFlowOnlyWhileUploadIsEnabled) {
    HostLink link(sim.port(0));
    ASSERT_TRUE(sim.wait_connected(0, true));
    EXPECT_EQ(sim.command("card 0 0012ab34:1:granted"), "ok sent=0 dropped=1 reason=upload-off");
    link.send(kEnable);
    EXPECT_EQ(link.read_exact(4), kAck);
    EXPECT_EQ(sim.info(0).at("upload"), "on");
    EXPECT_EQ(sim.report("tamper", 0, "3"), 1);
    EXPECT_EQ(link.read_frame(), frame(28, 0, 0, {0, 0, 0, 3}));
    link.send(kDisable);
    EXPECT_EQ(link.read_exact(4), kAck);
    ASSERT_TRUE(sim.wait_upload(0, false));
    EXPECT_EQ(sim.report("tamper", 0, "3"), 0);
    EXPECT_EQ(sim.command("tamper 1 1"), "ok sent=0 dropped=1 reason=not-connected");
}

TEST_F(CtlsimTest, EachReportKindHasItsDocumentedBytes) {
    auto link = uploading_link(0);
    sim.deliver("door-events", 0, "open=1 alarm=1,128");
    EXPECT_EQ(link->read_frame(), frame(26, 0, 0, {0x00, 0x00, 0x80, 0x03}));
    sim.deliver("door-events", 0, "bits=00000002 ap=12 psw=34");
    EXPECT_EQ(link->read_frame(), frame(26, 12, 34, {0x00, 0x00, 0x00, 0x02}));
    sim.deliver("alarms-cleared", 0, "1,4");
    EXPECT_EQ(link->read_frame(), frame(27, 0, 0, {0x00, 0x00, 0x00, 0x05}));
    sim.deliver("tamper", 0, "2");
    EXPECT_EQ(link->read_frame(), frame(28, 0, 0, {0x00, 0x00, 0x00, 0x02}));
    sim.deliver("card", 0, "0012ab34:1:granted:210307090502 55555555:128:refused:000000000000");
    EXPECT_EQ(link->read_frame(),
              frame(30, 0, 0,
                    {0x02, 0x00, 0x12, 0xAB, 0x34, 0x01, 0x80, 0x21, 0x03, 0x07, 0x09, 0x05, 0x02,
                     0x55, 0x55, 0x55, 0x55, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // Without extra bytes the record carries a time stamp: only the first six are fixed.
    sim.deliver("card", 0, "1:2:0x7F");
    const auto stamped = link->read_frame();
    ASSERT_TRUE(stamped);
    ASSERT_EQ(stamped->size(), 11u + 13u);
    EXPECT_EQ(Bytes(stamped->begin() + 9, stamped->begin() + 16),
              (Bytes{0x01, 0x00, 0x00, 0x00, 0x01, 0x02, 0x7F}));
}

TEST_F(CtlsimTest, RawFramesAndBytesGoOutAsGivenWithoutUpload) {
    HostLink link(sim.port(1));
    ASSERT_TRUE(sim.wait_connected(1, true));
    EXPECT_EQ(sim.report("frame", 1, "0x55 0102 ap=7 psw=9"), 1);
    EXPECT_EQ(link.read_frame(), frame(0x55, 7, 9, {0x01, 0x02}));
    EXPECT_EQ(sim.report("raw", 1, "DEADBEEF"), 1);
    EXPECT_EQ(link.read_exact(4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(CtlsimTest, ReceivedRecordsAreQueryableAndClearable) {
    HostLink link(sim.port(0));
    link.send(kEnable);
    link.send(frame(0x20, 42, 7, {0x03}));
    link.send(frame(0x21, 43, 0, {0x03}));
    link.send(frame(0x21, 44, 0, {0x03}));
    ASSERT_TRUE(sim.wait_received(0, 0x21, 2));
    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_TRUE(got[0].upload_switch);
    EXPECT_TRUE(got[0].upload_on);
    EXPECT_EQ(got[1].cmd, 0x20);
    EXPECT_EQ(got[1].ap_code, 42);
    EXPECT_EQ(got[1].psw, 7u);
    EXPECT_EQ(got[1].data, Bytes{0x03});
    EXPECT_TRUE(sim.received(1).empty());

    sim.clear_received(0);
    EXPECT_TRUE(sim.received(0).empty());
    EXPECT_FALSE(sim.wait_received(0, 0x21, 1, 50ms)) << "counts restart after a clear";
    EXPECT_TRUE(sim.wait(0, "switch=on count=0", 0ms));
}

TEST_F(CtlsimTest, ServesOneConnectionAtATime) {
    HostLink first(sim.port(0));
    ASSERT_TRUE(sim.wait_connected(0, true));
    HostLink second(sim.port(0));
    EXPECT_TRUE(second.ends_within(5s)) << "a second connection is closed at once";
    first.send(frame(0x10, 1, 0));
    EXPECT_EQ(first.read_frame(), frame(0x10, 1, 0)) << "the first one is still served";
    EXPECT_EQ(sim.info(0).at("rejected"), "1");

    sim.ok("second-connection 0 takeover");
    HostLink third(sim.port(0));
    EXPECT_TRUE(first.ends_within(5s)) << "takeover closes the old connection";
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    third.send(frame(0x10, 2, 0));
    EXPECT_EQ(third.read_frame(), frame(0x10, 2, 0));
}

TEST_F(CtlsimTest, AControllerIsAddressableByPort) {
    const std::string by_port = sim.ok("info :" + std::to_string(sim.port(1)));
    EXPECT_EQ(parse_fields(by_port).at("index"), "1");
    EXPECT_EQ(sim.ok("list"),
              "2 0:" + std::to_string(sim.port(0)) + " 1:" + std::to_string(sim.port(1)));
}

TEST_F(CtlsimTest, InvalidFramesAreCountedAndTheStreamRecovers) {
    HostLink link(sim.port(0));
    Bytes corrupt = frame(0x20, 1, 0, {0x01});
    corrupt[10] ^= 0x01;
    link.send(corrupt);
    link.send({0x00, 0x13, 0x37});
    link.send(frame(0x10, 2, 0));
    EXPECT_EQ(link.read_frame(), frame(0x10, 2, 0));
    const auto info = sim.info(0);
    EXPECT_EQ(info.at("invalid"), "1");
    EXPECT_EQ(info.at("frames"), "1");
}

// ----- faults

TEST_F(CtlsimTest, SilentReadsButNeverAnswers) {
    sim.fault(0, "silent on");
    HostLink link(sim.port(0));
    link.send(kEnable);
    link.send(frame(0x10, 1, 0));
    ASSERT_TRUE(sim.wait_received(0, 0x10));
    EXPECT_TRUE(link.read_some(150ms).empty());
    EXPECT_EQ(sim.command("card 0 1:1:granted"), "ok sent=0 dropped=1 reason=silent");
    sim.fault(0, "silent off");
    link.send(frame(0x10, 2, 0));
    EXPECT_EQ(link.read_frame(), frame(0x10, 2, 0));
}

TEST_F(CtlsimTest, DisconnectClosesOrResetsTheConnection) {
    HostLink a(sim.port(0));
    ASSERT_TRUE(sim.wait_connected(0, true));
    EXPECT_EQ(sim.ok("disconnect 0"), "closed=1");
    EXPECT_TRUE(a.ends_within(5s));
    EXPECT_EQ(a.end_reason(), zorvik::net::NetError::closed);

    HostLink b(sim.port(0));
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    EXPECT_EQ(sim.ok("disconnect 0 reset"), "closed=1");
    EXPECT_TRUE(b.ends_within(5s));
#ifdef _WIN32
    // Wine closes in order even after SO_LINGER 0 (real Windows resets).
    EXPECT_NE(b.end_reason(), zorvik::net::NetError::none);
#else
    EXPECT_EQ(b.end_reason(), zorvik::net::NetError::reset);
#endif
}

TEST_F(CtlsimTest, RefuseClosesTheListenerUntilCleared) {
    sim.fault(1, "refuse on");
    const auto refused = zorvik::net::connect_tcp("127.0.0.1", sim.port(1), 5s);
    EXPECT_EQ(refused.error(), zorvik::net::NetError::refused);
    EXPECT_EQ(sim.info(1).at("faults"), "refuse");
    sim.fault(1, "clear");
    HostLink link(sim.port(1));
    link.send(frame(0x10, 1, 0));
    EXPECT_EQ(link.read_frame(), frame(0x10, 1, 0));
}

TEST_F(CtlsimTest, DelayHoldsEachReply) {
    sim.fault(0, "delay 400");
    HostLink link(sim.port(0));
    link.send(frame(0x10, 1, 0));
    EXPECT_TRUE(link.read_some(100ms).empty()) << "the reply came before its delay";
    EXPECT_EQ(link.read_frame(5s), frame(0x10, 1, 0));
}

TEST_F(CtlsimTest, SplitSendsAFrameInSeveralWrites) {
    sim.fault(0, "split 3 150ms");
    HostLink link(sim.port(0));
    const Bytes expected = frame(0x21, 1, 0, {0x01});
    link.send(frame(0x21, 1, 0, {0x01}));
    Bytes got = link.read_some(5s);
    EXPECT_FALSE(got.empty());
    EXPECT_LT(got.size(), expected.size()) << "the whole frame came in one piece";
    const Bytes rest = link.read_exact(expected.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected) << "the pieces make the frame";
}

TEST_F(CtlsimTest, GarbageGoesOnceBeforeTheNextFrame) {
    sim.fault(0, "garbage 0013");
    HostLink link(sim.port(0));
    link.send(frame(0x10, 1, 0));
    const Bytes expected = frame(0x10, 1, 0);
    Bytes want{0x00, 0x13};
    want.insert(want.end(), expected.begin(), expected.end());
    EXPECT_EQ(link.read_exact(want.size()), want);
    link.send(frame(0x10, 2, 0));
    EXPECT_EQ(link.read_exact(expected.size()), frame(0x10, 2, 0));
}

TEST_F(CtlsimTest, RepeatSendsEachReportSeveralTimes) {
    auto link = uploading_link(0);
    sim.fault(0, "repeat 3");
    EXPECT_EQ(sim.report("tamper", 0, "1"), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(link->read_frame(), frame(28, 0, 0, {0, 0, 0, 1})) << i;
    }
    EXPECT_EQ(sim.info(0).at("reports"), "3");
}

TEST_F(CtlsimTest, CloseOnDropsTheConnectionInsteadOfAnswering) {
    sim.fault(0, "close-on 0x20");
    HostLink link(sim.port(0));
    link.send(frame(0x20, 1, 0, {0x01}));
    EXPECT_TRUE(link.ends_within(5s));
    EXPECT_TRUE(sim.wait_received(0, 0x20));
}

// ----- control port

TEST_F(CtlsimTest, StreamSendsFramesInTurnStampedNoEarlierThanTheirSchedule) {
    HostLink first(sim.port(0));
    HostLink second(sim.port(1));
    ASSERT_TRUE(sim.wait_connected(0, true));
    ASSERT_TRUE(sim.wait_connected(1, true));
    const auto started = std::stoull(sim.ok("clock"));
    EXPECT_EQ(sim.ok("stream 2 40 1"), "frames=40");
    for (auto* link : {&first, &second}) {
        std::uint64_t last = 0;
        for (int i = 0; i < 20; ++i) {
            const auto bytes = link->read_frame();
            ASSERT_TRUE(bytes);
            const auto f = zf::parse_frame(*bytes);
            ASSERT_TRUE(f);
            EXPECT_EQ(f->cmd, zf::kReportCardRecords);
            ASSERT_EQ(f->data.size(), 8u);
            std::uint64_t stamp = 0;
            for (auto b : f->data) {
                stamp = stamp << 8 | b;
            }
            EXPECT_GT(stamp, last);
            last = stamp;
        }
        // The last frame of each link is due 950 ms (first) or 975 ms (second) after the
        // start, and is stamped when it leaves, never before.
        EXPECT_GE(last, started + 950'000'000u);
    }
    EXPECT_FALSE(first.read_frame(100ms));
    EXPECT_EQ(sim.command("stream 3 40 1").rfind("error usage", 0), 0u);  // 2 controllers only
}

TEST_F(CtlsimTest, BadCommandsGetAnErrorLineAndLaterOnesStillWork) {
    for (const char* bad :
         {"frobnicate", "info 99", "info", "fault 0 delay soon", "status 0 300", "card 0 xyz",
          "card 0 12:3:granted", "door-events 0 open=5", "wait 0 cmd=999", "reply 0 0x20",
          "frame 0 0x20 abc", "tamper 0", "clear-received", "fault 0 split 0", "info :1",
          "received 0 extra", "\x01\x02\xff"}) {
        const std::string reply = sim.command(bad);
        EXPECT_TRUE(reply.starts_with("error ")) << bad << " -> " << reply;
    }
    EXPECT_EQ(sim.command(std::string(70000, 'x')), "error line longer than 65536 bytes");
    EXPECT_EQ(sim.command("ping"), "ok pong");
}

TEST_F(CtlsimTest, WaitTimesOutWithAnErrorLine) {
    EXPECT_EQ(sim.command("wait 0 cmd=0x10 timeout=30"), "error timeout cmd=0x10 count=0");
    EXPECT_FALSE(sim.wait_connected(0, true, 30ms));
}

TEST_F(CtlsimTest, APeerSendingNonsenseNeverStopsTheSimulator) {
    {
        HostLink link(sim.port(0));
        Bytes noise;
        for (int i = 0; i < 4000; ++i) {
            noise.push_back(static_cast<std::uint8_t>(i * 37 + 11));
        }
        noise.push_back(0x7E);  // a start byte whose length runs past the end
        noise.insert(noise.end(), {0x10, 0, 0, 0, 0, 0, 0x3F, 0xF0});
        link.send(noise);
    }
    ASSERT_TRUE(sim.wait_connected(0, false));
    HostLink again(sim.port(0));
    ASSERT_TRUE(sim.wait(0, "connections=2"));
    again.send(frame(0x10, 1, 0));
    EXPECT_EQ(again.read_frame(), frame(0x10, 1, 0));
}

TEST_F(CtlsimTest, RandomCommandLinesAllGetOneReplyAndNeverStopTheSimulator) {
    HostLink link(sim.port(0));
    link.send(kEnable);
    std::mt19937 rng(4711);
    const std::vector<std::string> words = {
        "help",     "list",           "ports",       "info",
        "stats",    "status",         "reply",       "second-connection",
        "received", "clear-received", "door-events", "alarms-cleared",
        "tamper",   "card",           "frame",       "raw",
        "fault",    "disconnect",     "ping",        "",
        "\x7f",     "info:0"};
    const std::vector<std::string> tokens = {"0",
                                             "1",
                                             "2",
                                             "all",
                                             "*",
                                             "random",
                                             "random-live",
                                             ":1",
                                             ":65535",
                                             "0x20",
                                             "-1",
                                             "999999999999999999999",
                                             "on",
                                             "off",
                                             "silent",
                                             "delay",
                                             "split",
                                             "garbage",
                                             "repeat",
                                             "close-on",
                                             "refuse",
                                             "clear",
                                             "default",
                                             "0x22",
                                             "-",
                                             "zz",
                                             "0a80",
                                             "open=1,2",
                                             "alarm=all",
                                             "bits=ffffffff",
                                             "bits=",
                                             "ap=70000",
                                             "psw=1",
                                             "12:1:granted",
                                             "random:random:random",
                                             "1:3:granted",
                                             "x:y",
                                             "1:1:1:00",
                                             "=",
                                             "count=2",
                                             "timeout=0",
                                             "takeover",
                                             "reject",
                                             "reset",
                                             "0.5s",
                                             "\xff\xfe"};
    std::uniform_int_distribution<std::size_t> word(0, words.size() - 1);
    std::uniform_int_distribution<std::size_t> token(0, tokens.size() - 1);
    std::uniform_int_distribution<int> count(0, 5);
    for (int i = 0; i < 400; ++i) {
        std::string line = words[word(rng)];
        for (int k = count(rng); k > 0; --k) {
            line += " " + tokens[token(rng)];
        }
        if (line.find_first_not_of(' ') == std::string::npos) {
            continue;  // a blank line is not a command and gets no reply
        }
        const std::string reply = sim.command(line);
        EXPECT_TRUE(reply.starts_with("ok") || reply.starts_with("error "))
            << line << " -> " << reply;
    }
    EXPECT_EQ(sim.command("ping"), "ok pong");
}

TEST_F(CtlsimTest, AHostThatStopsReadingIsDroppedBeforeTheQueueGrowsWithoutBound) {
    HostLink link(sim.port(0));  // never reads
    ASSERT_TRUE(sim.wait_connected(0, true));
    const std::string big = "raw 0 " + std::string(2 * 16000, 'A');
    bool dropped = false;
    for (int i = 0; i < 4000 && !dropped; ++i) {
        dropped = sim.command(big).starts_with("ok sent=0");
    }
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(sim.wait_connected(0, false));
}

TEST(CtlsimScenario, RunsItsCommandsOnSchedule) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("ctlsim_scenario_" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
    {
        std::ofstream out(path);
        out << "seed 1\n"
               "every 20ms card random-live 0012ab34:random:granted\n"
               "at 0ms status all 0x80\n";
    }
    Ctlsim sim(1, {"--scenario", path.string()});
    HostLink link(sim.port(0));
    link.send(kEnable);
    for (int i = 0; i < 3; ++i) {
        const auto f = link.read_frame(5s);
        ASSERT_TRUE(f);
        EXPECT_EQ((*f)[1], 30);
        EXPECT_EQ(Bytes(f->begin() + 9, f->begin() + 14), (Bytes{0x01, 0x00, 0x12, 0xAB, 0x34}));
    }
    EXPECT_EQ(sim.info(0).at("status"), "0x80");
    std::filesystem::remove(path);
}

TEST(CtlsimProgram, EndsWhenItsInputClosesAndRejectsBadArguments) {
    {
        ChildProcess p(Ctlsim::program(), {"--listen", "127.0.0.1:0", "--quiet"});
        const auto ready = p.read_line(30s);
        ASSERT_TRUE(ready);
        EXPECT_EQ(*ready, "ready control=none controllers=1");
        p.write("ping\n");
        EXPECT_EQ(p.read_line(10s), "ok pong");
        p.close_stdin();
        EXPECT_EQ(p.wait(10s), 0);
    }
    {
        ChildProcess p(Ctlsim::program(), {"--controllers", "0"});
        EXPECT_FALSE(p.read_line(30s));
        EXPECT_EQ(p.wait(10s), 2);
    }
}

TEST(CtlsimProgram, ATakenPortIsAClearStartFailure) {
    zorvik::net::NetStartup net;
    auto taken = zorvik::net::listen_tcp("127.0.0.1", 0);
    ASSERT_TRUE(taken);
    ChildProcess p(Ctlsim::program(),
                   {"--listen", "127.0.0.1:" + std::to_string(*taken->local_port()), "--quiet"});
    EXPECT_FALSE(p.read_line(30s));
    EXPECT_EQ(p.wait(10s), 1);
}

}  // namespace
}  // namespace ctlsim::testing
