// ctlsim takes its controllers from a door database: the controllers of the doors the
// door server would load from the same file.
#include "door_db_list.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "ctlsim_driver.h"
#include "net/socket.h"
#include "options.h"
#include "sample_door_db.h"

namespace ctlsim {
namespace {

class TempFile {
  public:
    explicit TempFile(const std::string& name) {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("ctlsim-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                 std::to_string(counter++) + "-" + name);
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

void exec(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
}

porvex::SampleDoorDbOptions sample(int controllers, int base_port,
                                   bool with_disabled_rows = false) {
    porvex::SampleDoorDbOptions options;
    options.controllers = controllers;
    options.base_port = base_port;
    options.with_disabled_rows = with_disabled_rows;
    return options;
}

// Ports nothing listens on right now.
std::vector<int> free_ports(std::size_t count) {
    std::vector<zorvik::net::Socket> held;
    std::vector<int> ports;
    for (std::size_t i = 0; i < count; ++i) {
        auto listener = zorvik::net::listen_tcp("127.0.0.1", 0);
        if (!listener) {
            throw std::runtime_error("no free port");
        }
        ports.push_back(*listener->local_port());
        held.push_back(std::move(*listener));
    }
    return ports;
}

TEST(DoorDbList, OneControllerPerAddressOfTheLoadedDoors) {
    TempFile db("doors.db");
    porvex::create_sample_door_db(db.str(), sample(3, 30100, true));
    exec(db.str(),
         "insert into ZelB_Board values (9, 'remote', '10.1.1.9', 5768, null);"
         "insert into ZelB_Device values (99, 9, 'x', 'y', 1, 0, '0');"
         "insert into ZelB_Board values (10, 'off', '127.0.0.1', 30200, null);"
         "insert into ZelB_Device values (100, 10, 'z', 'y', 1, 0, '1');");
    const ControllerList list = load_door_db(db.str());
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.controllers.size(), 3u);  // 24 doors, 3 controllers; 30200 is out of service
    EXPECT_EQ(list.controllers[0].port, 30100);
    EXPECT_EQ(list.controllers[2].port, 30102);
    ASSERT_EQ(list.warnings.size(), 1u);
    EXPECT_NE(list.warnings[0].find("10.1.1.9"), std::string::npos);
}

TEST(DoorDbList, AMissingDatabaseIsAnErrorAndCreatesNothing) {
    TempFile db("missing.db");
    const ControllerList list = load_door_db(db.str());
    EXPECT_FALSE(list.ok());
    EXPECT_TRUE(list.controllers.empty());
    EXPECT_FALSE(std::filesystem::exists(db.str()));
}

TEST(DoorDbList, TheCommandLineTakesDoorDatabasesAfterTheOtherSources) {
    TempFile db("doors.db");
    porvex::create_sample_door_db(db.str(), sample(2, 30300));
    const CommandLine cl =
        parse_command_line({"--listen", "127.0.0.1:30300", "--door-db", db.str()});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    const ControllerList list = controller_list(cl);
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.controllers.size(), 2u);  // 30300 is named twice: one controller
    EXPECT_EQ(list.controllers[1].port, 30301);
    EXPECT_FALSE(parse_command_line({"--door-db"}).error.empty());
}

TEST(DoorDbList, TheSimulatorServesTheControllersOfADoorDatabase) {
    zorvik::net::NetStartup net;
    TempFile db("doors.db");
    const std::vector<int> ports = free_ports(2);
    auto options = sample(2, 0);
    options.ports = ports;
    porvex::create_sample_door_db(db.str(), options);
    testing::CtlsimOptions sim_options;
    sim_options.controllers = 0;
    sim_options.arguments = {"--door-db", db.str()};
    testing::Ctlsim sim(sim_options);
    ASSERT_EQ(sim.ports().size(), 2u);
    EXPECT_EQ(sim.port(0), ports[0]);
    EXPECT_EQ(sim.port(1), ports[1]);
    auto link = zorvik::net::connect_tcp("127.0.0.1", sim.port(1), std::chrono::seconds(5));
    ASSERT_TRUE(link);
    EXPECT_TRUE(sim.wait_connected(1, true));
}

}  // namespace
}  // namespace ctlsim
