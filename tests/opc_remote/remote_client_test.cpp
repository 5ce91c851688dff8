// opcclient against the sample server: every command, its output and its exit codes.
#include <chrono>
#include <string>

#include "porvex_version.h"

#include "child_process.h"
#include "remote_fixture.h"

namespace porvex::opc::remote {
namespace {

const std::string kServer = "opcsample.SampleServer.1";

class OpcClientTest : public RemoteTest {};

// A line of the output that is exactly text (a trailing carriage return aside).
bool HasLine(const TRunResult& result, const std::string& text) {
    for (std::string line : result.lines) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == text) {
            return true;
        }
    }
    return false;
}

TEST_F(OpcClientTest, ListsTheServerUnderBothVersions) {
    const TRunResult result = Client({"servers"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_TRUE(
        result.Has("opcsample.SampleServer.1  {2BA2546D-BF15-42CC-B885-DD3C29527601}  "
                   "DA1,DA2  Porvex OPC Sample Server"));
}

TEST_F(OpcClientTest, ShowsTheStatus) {
    const TRunResult result = Client({"status", kServer});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_TRUE(result.Has("state         running"));
    EXPECT_TRUE(HasLine(result, "vendor        Porvex OPC Sample Server"));
    // Major, minor and build of the project's version (the file version's 1st, 2nd, 4th).
    constexpr int kVersion[] = {PORVEX_VERSION_NUMBERS};
    const std::string version = std::to_string(kVersion[0]) + "." + std::to_string(kVersion[1]) +
                                "." + std::to_string(kVersion[3]);
    EXPECT_NE(version, "0.0.0");
    EXPECT_TRUE(HasLine(result, "version       " + version));
}

TEST_F(OpcClientTest, BrowsesTheTreeAndFlat) {
    const TRunResult tree = Client({"browse", kServer, "--branch", "Plant"});
    EXPECT_EQ(tree.exit_code, 0);
    EXPECT_EQ(tree.lines.front(), "Hall1/");
    EXPECT_TRUE(tree.Has("  Pump1/"));
    EXPECT_TRUE(tree.Has("    Running  Plant.Hall1.Pump1.Running"));
    const TRunResult flat = Client({"browse", kServer, "--flat", "--branch=Simulation"});
    EXPECT_EQ(flat.lines, (std::vector<std::string>{"Simulation.Analog", "Simulation.Counter",
                                                    "Simulation.LastWrite", "Simulation.ReadOnly",
                                                    "Simulation.Text", "Simulation.WriteOnly"}));
    const TRunResult filtered = Client({"browse", kServer, "--flat", "--filter", "Load.Item000?"});
    EXPECT_EQ(filtered.lines.size(), 10u);
    EXPECT_EQ(Client({"browse", kServer, "--branch", "Nowhere"}).exit_code, 3);
}

TEST_F(OpcClientTest, ShowsItemProperties) {
    const TRunResult result = Client({"props", kServer, "Simulation.Analog"});
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_EQ(result.lines.size(), 6u);
    EXPECT_EQ(result.lines[0], "    1  Item Canonical Data Type  R8");
    EXPECT_EQ(result.lines[4], "    5  Item Access Rights        read");
    EXPECT_EQ(result.lines[5], "    6  Item Server Scan Rate     50 (R4)");
}

TEST_F(OpcClientTest, ReadsEachWay) {
    for (const char* way : {"--device", "--async", "--da1", "--da1=data"}) {
        SCOPED_TRACE(way);
        const TRunResult result =
            Client({"read", kServer, "Simulation.ReadOnly", "Arrays.Text", "Simulation.Text", way});
        EXPECT_EQ(result.exit_code, 0);
        ASSERT_EQ(result.lines.size(), 3u);
        EXPECT_EQ(result.lines[0].rfind("Simulation.ReadOnly = 42 (I2) quality=good time=", 0), 0u);
        EXPECT_EQ(result.lines[1].rfind(
                      "Arrays.Text = [\"alpha\", \"beta\", \"gamma\"] (BSTR[]) quality=good", 0),
                  0u);
        EXPECT_EQ(result.lines[2].rfind("Simulation.Text = \"hello\" (BSTR) quality=good", 0), 0u);
    }
}

TEST_F(OpcClientTest, WritesEachWayAndReadsBack) {
    EXPECT_EQ(Client({"write", kServer, "Arrays.Int32=[9, 8]"}).lines,
              (std::vector<std::string>{"Arrays.Int32 written"}));
    EXPECT_EQ(Client({"write", kServer, "Plant.Hall1.Pump2.Speed=12.5", "--async"}).exit_code, 0);
    EXPECT_EQ(Client({"write", kServer, "Simulation.WriteOnly=77", "--da1"}).exit_code, 0);
    const TRunResult back = Client(
        {"read", kServer, "Arrays.Int32", "Plant.Hall1.Pump2.Speed", "Simulation.LastWrite"});
    ASSERT_EQ(back.lines.size(), 3u);
    EXPECT_EQ(back.lines[0].rfind("Arrays.Int32 = [9, 8] (I4[])", 0), 0u);
    EXPECT_EQ(back.lines[1].rfind("Plant.Hall1.Pump2.Speed = 12.5 (R4)", 0), 0u);
    EXPECT_EQ(back.lines[2].rfind("Simulation.LastWrite = 77 (I4)", 0), 0u);
    Client({"write", kServer, "Arrays.Int32=[1, 2, 3, 4]", "Plant.Hall1.Pump2.Speed=0"});
}

TEST_F(OpcClientTest, ExitCodesTellWhatWentWrong) {
    const TRunResult bad_item = Client({"read", kServer, "Simulation.Nope", "Simulation.ReadOnly"});
    EXPECT_EQ(bad_item.exit_code, 1);
    EXPECT_TRUE(bad_item.Has("Simulation.Nope error 0xC0040007 The item is no longer available"));
    EXPECT_TRUE(bad_item.Has("Simulation.ReadOnly = 42"));
    const TRunResult refused = Client({"write", kServer, "Simulation.ReadOnly=1"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(refused.Has("Simulation.ReadOnly error 0xC0040006"));
    EXPECT_EQ(Client({"write", kServer, "Simulation.Text"}).exit_code, 2);
    EXPECT_EQ(Client({"status", "No.Such.Server"}).exit_code, 3);
    EXPECT_EQ(Client({"frobnicate"}).exit_code, 2);
}

TEST_F(OpcClientTest, SubscribesThroughBothInterfaces) {
    for (bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "DA 1.0 stream" : "data callback");
        std::vector<std::string> args = {"subscribe",
                                         kServer,
                                         "Simulation.Counter",
                                         "Simulation.ReadOnly",
                                         "--rate",
                                         "50",
                                         "--count",
                                         "5",
                                         "--duration",
                                         "20"};
        if (stream) {
            args.push_back("--da1");
        }
        const TRunResult result = Client(args);
        EXPECT_EQ(result.exit_code, 0);
        ASSERT_EQ(result.lines.size(), 5u);
        int counters = 0;
        for (const std::string& line : result.lines) {
            counters += line.rfind("Simulation.Counter = ", 0) == 0;
        }
        EXPECT_GE(counters, 4) << "the counter changes, the constant does not";
    }
    // A duration that ends before the count is reached is a failure for scripts.
    const TRunResult few = Client({"subscribe", kServer, "Simulation.ReadOnly", "--rate", "50",
                                   "--count", "3", "--duration", "3"});
    EXPECT_EQ(few.exit_code, 1);
    EXPECT_EQ(few.lines.size(), 1u);
}

TEST_F(OpcClientTest, ASubscriptionEndsWhenTheServerAsksToDisconnect) {
    ctlsim::testing::ChildProcess client(TreeProgram("opcclient.exe"),
                                         {"subscribe", kServer, "--branch", "Plant"});
    ASSERT_TRUE(client.read_line(std::chrono::seconds(20)).has_value());
    ASSERT_EQ(WriteItem(Sample(), L"Control.Shutdown", win::Variant::string(L"going down")), S_OK);
    EXPECT_EQ(client.wait(std::chrono::seconds(20)), std::optional<int>(4));
}

}  // namespace
}  // namespace porvex::opc::remote
