// The control language's small parsers, scenario files, controller lists and the command line.
#include <gtest/gtest.h>

#include "controller_list.h"
#include "options.h"
#include "scenario.h"
#include "text.h"

namespace ctlsim {
namespace {

using namespace std::chrono_literals;

TEST(Text, NumbersAreDecimalOrHexWithinTheirLimit) {
    EXPECT_EQ(parse_number("32", 255), 32u);
    EXPECT_EQ(parse_number("0x20", 255), 32u);
    EXPECT_EQ(parse_number("0XfF", 255), 255u);
    EXPECT_FALSE(parse_number("256", 255));
    EXPECT_FALSE(parse_number("0x", 255));
    EXPECT_FALSE(parse_number("-1", 255));
    EXPECT_FALSE(parse_number("12a", 255));
    EXPECT_FALSE(parse_number("", 255));
    EXPECT_FALSE(parse_number("99999999999999999999999", ~0ULL));
    EXPECT_EQ(parse_number("18446744073709551615", ~0ULL), ~0ULL);
}

TEST(Text, HexBytesNeedAnEvenCountOfDigits) {
    EXPECT_EQ(parse_hex_bytes("0aFF"), (Bytes{0x0A, 0xFF}));
    EXPECT_EQ(parse_hex_bytes("-"), Bytes{});
    EXPECT_FALSE(parse_hex_bytes("abc"));
    EXPECT_FALSE(parse_hex_bytes("zz"));
    EXPECT_EQ(parse_hex_u32("0012ab34"), 0x0012AB34u);
    EXPECT_FALSE(parse_hex_u32("123456789"));
}

TEST(Text, DurationsTakeUnitsAndPlainNumbersAreMilliseconds) {
    EXPECT_EQ(parse_duration("250"), 250ms);
    EXPECT_EQ(parse_duration("250ms"), 250ms);
    EXPECT_EQ(parse_duration("2s"), 2s);
    EXPECT_EQ(parse_duration("1.5s"), 1500ms);
    EXPECT_EQ(parse_duration("500us"), 500us);
    EXPECT_EQ(parse_duration("2m"), 120s);
    EXPECT_FALSE(parse_duration("ms"));
    EXPECT_FALSE(parse_duration("1x"));
    EXPECT_FALSE(parse_duration("-5ms"));
    EXPECT_FALSE(parse_duration("1e9s"));
}

TEST(Text, ReadersArePowersOfTwoUpTo128) {
    EXPECT_EQ(parse_readers("1,4,128"), 0x85);
    EXPECT_EQ(parse_readers("all"), 0xFF);
    EXPECT_EQ(parse_readers("none"), 0x00);
    EXPECT_FALSE(parse_readers("3"));
    EXPECT_FALSE(parse_readers("256"));
    EXPECT_FALSE(parse_readers("1,"));
    EXPECT_FALSE(parse_readers("0"));
}

TEST(Text, TokensAndOptions) {
    const auto t = split_tokens("  card 0\t12:1:granted  ap=5 ");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[3], "ap=5");
    EXPECT_EQ(option_value("ap=5", "ap"), "5");
    EXPECT_FALSE(option_value("apx=5", "ap"));
    EXPECT_FALSE(option_value("ap", "ap"));
}

TEST(Scenario, ParsesAtEveryRateAndSeed) {
    const auto s = parse_scenario(
        "# demo\n"
        "seed 42\n"
        "at 2s fault 3 silent on\n"
        "every 10ms card random-live random:random:granted\n"
        "every 500ms from 1s for 10s door-events random open=1\n"
        "rate 1000/s card random-live random:1:random\r\n"
        "\n"
        "at 60s quit\n",
        "demo.scn");
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_EQ(s.seed, 42u);
    ASSERT_EQ(s.entries.size(), 5u);
    EXPECT_FALSE(s.entries[0].repeat);
    EXPECT_EQ(s.entries[0].start, 2s);
    EXPECT_EQ(s.entries[0].command, "fault 3 silent on");
    EXPECT_EQ(s.entries[1].interval, 10ms);
    EXPECT_EQ(s.entries[2].start, 1s);
    EXPECT_EQ(s.entries[2].duration, 10s);
    EXPECT_EQ(s.entries[2].command, "door-events random open=1");
    EXPECT_EQ(s.entries[3].interval, 1ms);
    EXPECT_EQ(s.entries[3].command, "card random-live random:1:random");
    EXPECT_EQ(s.entries[4].line, 8u);
}

TEST(Scenario, RejectsWhatItCannotRunNamingTheLine) {
    EXPECT_EQ(parse_scenario("every 0ms ping\n", "a").error, "a:1: bad interval '0ms'");
    EXPECT_EQ(parse_scenario("\nat soon ping\n", "a").error, "a:2: expected 'at TIME COMMAND'");
    EXPECT_EQ(parse_scenario("at 1s frobnicate 0\n", "a").error,
              "a:1: unknown command 'frobnicate'");
    EXPECT_EQ(parse_scenario("at 1s wait 0 connected\n", "a").error,
              "a:1: 'wait' cannot run in a scenario");
    EXPECT_EQ(parse_scenario("rate 0/s ping\n", "a").error,
              "a:1: bad rate '0/s' (1 to 1000000 per second)");
    EXPECT_EQ(parse_scenario("every 1s\n", "a").error, "a:1: no command");
    EXPECT_EQ(parse_scenario("sometimes ping\n", "a").error,
              "a:1: unknown scenario word 'sometimes' (at, every, rate, seed)");
    EXPECT_FALSE(load_scenario_file("/nonexistent/scenario").ok());
}

#ifdef CTLSIM_SCENARIO_DIR
TEST(Scenario, TheShippedScenariosAreValid) {
    for (const char* name : {"demo.txt", "steady-1000.txt"}) {
        const auto s = load_scenario_file(std::string(CTLSIM_SCENARIO_DIR) + "/" + name);
        EXPECT_TRUE(s.ok()) << s.error;
        EXPECT_FALSE(s.entries.empty()) << name;
    }
}
#endif

TEST(ControllerList, ListTextServesOnlyLoopbackAndMergesDoorsOfOneController) {
    const auto list = parse_list_text(
        "# doors\n127.0.0.1:5768\n127.0.0.1:5768\n10.1.2.3:5768\n  \nlocalhost:5769\n"
        "127.0.0.1:0\n127.0.0.1:0\n",
        "doors.txt");
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.controllers.size(), 4u);
    EXPECT_EQ(list.controllers[0].port, 5768);
    EXPECT_EQ(list.controllers[1].port, 5769);
    EXPECT_EQ(list.controllers[2].port, 0);
    EXPECT_EQ(list.controllers[3].port, 0);
    ASSERT_EQ(list.warnings.size(), 1u);
    EXPECT_EQ(list.warnings[0], "doors.txt:4: 10.1.2.3 skipped (only 127.0.0.1 is served)");
    EXPECT_EQ(parse_list_text("127.0.0.1:99999\n", "x").error,
              "x:1: expected HOST:PORT, got '127.0.0.1:99999'");
    EXPECT_FALSE(load_list_file("/nonexistent/list").ok());
}

TEST(ControllerList, CountListAndMerging) {
    auto list = count_list(3, 65534);
    EXPECT_FALSE(list.ok());
    list = count_list(3, 6000);
    ASSERT_TRUE(list.ok());
    EXPECT_EQ(list.controllers[2].port, 6002);
    ControllerList more;
    more.controllers = {{"127.0.0.1", 6001}};
    merge_lists(list, more, false);
    EXPECT_EQ(list.controllers.size(), 3u) << "a repeated port is the same controller";
    merge_lists(list, more, true);
    EXPECT_EQ(list.error, "port 6001 is given twice");
}

TEST(CommandLine, BuildsTheControllerListFromEverySource) {
    auto cl =
        parse_command_line({"--controllers", "2", "--base-port", "0", "--listen", "127.0.0.1:7001",
                            "--control-port", "0", "--quiet", "--seed", "9"});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    EXPECT_EQ(cl.control_port, 0);
    EXPECT_EQ(cl.seed, 9u);
    const auto list = controller_list(cl);
    ASSERT_TRUE(list.ok());
    ASSERT_EQ(list.controllers.size(), 3u);
    EXPECT_EQ(list.controllers[2].port, 7001);

    const auto defaults = controller_list(parse_command_line({}));
    ASSERT_EQ(defaults.controllers.size(), 1u);
    EXPECT_EQ(defaults.controllers[0].port, 5768);
}

TEST(CommandLine, RejectsBadArgumentsWithAReason) {
    EXPECT_EQ(parse_command_line({"--controllers", "0"}).error, "--controllers takes 1..65535");
    EXPECT_EQ(parse_command_line({"--listen", "10.0.0.1:5"}).error,
              "--listen 10.0.0.1:5: only 127.0.0.1 is served");
    EXPECT_EQ(parse_command_line({"--control-port"}).error, "--control-port takes a port 0..65535");
    EXPECT_EQ(parse_command_line({"--frobnicate"}).error, "unknown argument '--frobnicate'");
    EXPECT_EQ(controller_list(parse_command_line({"--listen", ":7001", "--listen", ":7001"})).error,
              "port 7001 is given twice");
}

}  // namespace
}  // namespace ctlsim
