// Runs tarnet_surface.vbs under Wine's cscript against the controller simulator and
// checks the script's own verdict and what the controllers received from it.
#include <gtest/gtest.h>

#include "child_process.h"
#include "com_support.h"
#include "ctlsim_driver.h"

namespace tarnet::testing {
namespace {

std::string windows_path(std::string path) {
    if (path.starts_with('/')) {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

TEST(VbScript, DrivesTheControlThroughItsAutomationSurface) {
    ASSERT_EQ(register_tarnet(), S_OK);
    ctlsim::testing::Ctlsim sim{2};
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, MAX_PATH);
    ctlsim::testing::ChildProcess script(
        std::string(dir) + "\\cscript.exe",
        {"//nologo", windows_path(TARNET_SURFACE_SCRIPT), std::to_string(sim.port(0)),
         std::to_string(sim.port(1))});
    script.close_stdin();
    std::vector<std::string> lines;
    while (auto line = script.read_line(std::chrono::seconds(60))) {
        lines.push_back(*line);
        std::printf("script: %s\n", line->c_str());
    }
    const auto code = script.wait(std::chrono::seconds(30));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << "the script's failure count";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "DONE failures=0") << "the script ran to its end";

    const auto got = sim.received(0);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0].upload_switch && got[0].upload_on);
    EXPECT_EQ(got[1].cmd, 0x20);
    EXPECT_EQ(got[1].ap_code, 7);
    EXPECT_EQ(got[1].data, (std::vector<std::uint8_t>{0x0A, 0xF0}));
    EXPECT_EQ(got[2].cmd, 0x21);
    EXPECT_EQ(got[2].data, (std::vector<std::uint8_t>{0x0A, 0xF0}));
    EXPECT_TRUE(sim.wait_connected(0, false));
    EXPECT_TRUE(sim.wait_connected(1, false));
    EXPECT_EQ(sim.info(1).at("connections"), "1");
}

}  // namespace
}  // namespace tarnet::testing
