// The door directory from PostgreSQL through ODBC. The server is started by the
// postgres fixture of the test run (postgres-fixture); without it these tests fail.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "core/clock.h"
#include "door_startup.h"
#include "fake_link.h"

namespace porvex::test {
namespace {

// The fixture's folder as this program can open it (under Wine, Unix paths live on Z:).
std::string fixture_file(const std::string& name) {
    const char* dir = std::getenv("PORVEX_PG_DIR");
    if (dir == nullptr || *dir == '\0') {
        return {};
    }
    std::string path = std::string(dir) + "/" + name;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
#endif
    return path;
}

std::string server_port() {
    std::ifstream in(fixture_file("port"));
    std::string port;
    in >> port;
    return port;
}

class OdbcPostgresTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(fixture_file("port").empty())
            << "PORVEX_PG_DIR is not set: run these tests through ctest (postgres fixture)";
        port = server_port();
        ASSERT_FALSE(port.empty())
            << "the PostgreSQL fixture did not start: no port in " << fixture_file("port");
    }

    DirectoryOutcome load(const std::string& server_text, const std::string& schema = "",
                          const std::string& user = "", DatabaseTimeouts timeouts = {}) {
        Settings s;
        s.db_type = static_cast<int>(DatabaseKind::odbc);
        s.server = server_text;
        s.database = schema;
        s.user = user;
        return load_door_directory(s, server, log, timeouts);
    }

    std::string port;
    ManualClock clock;
    FakeLink link;
    MemoryLog log;
    DoorServer server{PointSet::all(), link, clock, log};
};

TEST_F(OdbcPostgresTest, DoorsLoadThroughADsnWithChineseTextIntact) {
    const auto outcome = load("porvex_doors");
    ASSERT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
    ASSERT_EQ(outcome.doors, 3u);  // the out-of-service door is not read
    const auto leaf = server.find_leaf("A栋1楼东门(A栋1楼大厅).门禁状态");
    ASSERT_TRUE(leaf);
    const DoorRecord east = server.door(server.leaf_owner(*leaf).door->index);
    EXPECT_EQ(east.ip, "127.0.0.1");
    EXPECT_EQ(east.port_text, "15768");
    EXPECT_EQ(east.in_reader, 1);
    EXPECT_EQ(east.out_reader, 2);
    EXPECT_TRUE(server.find_leaf("A栋1楼西门().门禁状态"));  // NULL location
    const bool high_port = server.inspect(
        [](const DoorDirectory& d) { return d.FindDoor("127.0.0.1", 40001, 1) != nullptr; });
    EXPECT_TRUE(high_port);
}

TEST_F(OdbcPostgresTest, ASchemaInTheDatabaseSettingQualifiesTheTables) {
    const auto outcome = load("porvex_doors", "acs");
    ASSERT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
    ASSERT_EQ(outcome.doors, 1u);
    EXPECT_TRUE(server.find_leaf("档案室(三楼).门禁状态"));
}

TEST_F(OdbcPostgresTest, AWholeConnectionStringWithTheUserAdded) {
    const auto outcome =
        load("Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + port + ";Database=doors",
             "", "porvex");
    ASSERT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
    EXPECT_EQ(outcome.doors, 3u);
}

TEST_F(OdbcPostgresTest, AnUnknownDsnOrDatabaseIsAConnectionFailure) {
    EXPECT_EQ(load("no_such_dsn").step, DirectoryStep::database_failed);
    const auto outcome =
        load("Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + port + ";Database=nothing",
             "", "porvex");
    EXPECT_EQ(outcome.step, DirectoryStep::database_failed);
    EXPECT_EQ(outcome.message, "数据库连接失败，请检查系统配置是否正确！");
    EXPECT_TRUE(log.contains("nothing")) << log.lines().back();
}

TEST_F(OdbcPostgresTest, AQueryPastItsTimeOutIsCancelled) {
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = load("porvex_doors", "slow", "", DatabaseTimeouts{5, 1});
    EXPECT_EQ(outcome.step, DirectoryStep::load_failed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(server.door_count(), 0u);
}

}  // namespace
}  // namespace porvex::test
