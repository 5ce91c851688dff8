// The door directory loaded from real SQLite database files.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "core/clock.h"
#include "door_startup.h"
#include "fake_link.h"
#include "sample_door_db.h"
#include "temp_dir.h"

namespace porvex::test {
namespace {

void exec(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::string read_all(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SqliteDoorsTest : public ::testing::Test {
  protected:
    Settings sqlite_settings(const std::filesystem::path& database) {
        Settings s;
        s.db_type = static_cast<int>(DatabaseKind::sqlite);
        s.server = database.string();
        return s;
    }

    TempDir dir;
    std::filesystem::path file = dir.path() / "门禁.db";
    ManualClock clock;
    FakeLink link;
    MemoryLog log;
    DoorServer server{PointSet::all(), link, clock, log};
};

TEST_F(SqliteDoorsTest, SampleDatabaseLoadsInQueryOrderWithoutOutOfServiceDoors) {
    SampleDoorDbOptions options;
    options.controllers = 3;
    options.base_port = 20000;
    options.with_disabled_rows = true;
    create_sample_door_db(file, options);
    const std::string before = read_all(file);
    const auto outcome = load_door_directory(sqlite_settings(file), server, log);
    ASSERT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
    EXPECT_EQ(outcome.doors, 24u);
    const DoorRecord first = server.door(0);
    EXPECT_EQ(first.ip, "127.0.0.1");
    EXPECT_EQ(first.port_text, "20000");
    EXPECT_EQ(server.node_text(first.door_node), "A栋1楼东门(A栋1楼东侧)");
    const DoorRecord last = server.door(23);
    EXPECT_EQ(last.port_text, "20002");
    EXPECT_EQ(last.in_reader, 128);
    const auto leaf = server.find_leaf("A栋3楼机房门(A栋3楼机房).门禁状态");
    ASSERT_TRUE(leaf);
    EXPECT_EQ(server.leaf_owner(*leaf).door->index, 23u);
    EXPECT_EQ(read_all(file), before);  // opened read-only
}

TEST_F(SqliteDoorsTest, AMissingFileIsAConnectionFailureAndStaysMissing) {
    const auto outcome = load_door_directory(sqlite_settings(file), server, log);
    EXPECT_EQ(outcome.step, DirectoryStep::database_failed);
    EXPECT_EQ(outcome.message, "数据库连接失败，请检查系统配置是否正确！");
    // The dialog adds the database's own words on a second line.
    EXPECT_TRUE(outcome.dialog_text.starts_with("数据库连接失败，请检查系统配置是否正确！\n"));
    EXPECT_GT(outcome.dialog_text.size(), outcome.message.size() + 1);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(SqliteDoorsTest, AFileThatIsNoDatabaseIsAConnectionFailure) {
    std::ofstream(file) << "these are not the doors you are looking for, padded to a page....";
    EXPECT_EQ(load_door_directory(sqlite_settings(file), server, log).step,
              DirectoryStep::database_failed);
}

TEST_F(SqliteDoorsTest, MissingTablesFailTheLoadNotTheConnection) {
    exec(file, "create table other (x)");
    const auto outcome = load_door_directory(sqlite_settings(file), server, log);
    EXPECT_EQ(outcome.step, DirectoryStep::load_failed);
    EXPECT_NE(outcome.message.find("ZelB_"), std::string::npos) << outcome.message;
}

TEST_F(SqliteDoorsTest, NullLocationAndNullReaderAsTheDirectoryRulesSay) {
    // A schema as loose as some sites have it: readers may be NULL.
    exec(file, R"sql(
        create table ZelB_Board (Board_ID integer, Board_IP text, Board_Port integer);
        create table ZelB_Device (Device_ID integer primary key, Board_ID integer,
            Device_Name text, Device_Location text, InReader integer, OutReader integer,
            Device_Status text);
        insert into ZelB_Board values (1, '10.0.0.1', 5768);
        insert into ZelB_Device values (1, 1, '东门', null, 1, 0, '0');
        insert into ZelB_Device values (2, 1, '西门', '一层', 2, 0, '0');
        insert into ZelB_Device values (3, 1, '坏门', '一层', 4, null, '0');
        insert into ZelB_Device values (4, 1, '北门', '一层', 8, 0, '0');
    )sql");
    const auto outcome = load_door_directory(sqlite_settings(file), server, log);
    EXPECT_EQ(outcome.step, DirectoryStep::load_failed);
    EXPECT_NE(outcome.message.find("door row 3"), std::string::npos) << outcome.message;
    EXPECT_EQ(outcome.dialog_text, "门禁列表读取失败，请检查数据库！\n" + outcome.message);
    EXPECT_EQ(outcome.doors, 2u);  // rows before the bad one stay
    EXPECT_EQ(server.node_text(server.door(0).door_node), "东门()");
    EXPECT_FALSE(server.item_info(server.door(0).state_node));  // no value holders
}

TEST_F(SqliteDoorsTest, AWriterHoldingTheFileBrieflyIsWaitedFor) {
    SampleDoorDbOptions options;
    options.controllers = 1;
    options.doors_per_controller = 2;
    create_sample_door_db(file, options);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(writer, "commit", nullptr, nullptr, nullptr);
    });
    const auto outcome = load_door_directory(sqlite_settings(file), server, log);
    release.join();
    sqlite3_close(writer);
    EXPECT_EQ(outcome.step, DirectoryStep::loaded) << outcome.message;
    EXPECT_EQ(outcome.doors, 2u);
}

TEST_F(SqliteDoorsTest, AQueryRunningPastItsDeadlineIsInterrupted) {
    // A door table that is a view computing for ever.
    exec(file, R"sql(
        create table ZelB_Board (Board_ID, Board_IP, Board_Port);
        create view ZelB_Device as
            with recursive n(i) as (select 1 union all select i + 1 from n)
            select 1 as Board_ID, 'x' as Device_Name, 'y' as Device_Location, 1 as InReader,
                   0 as OutReader, '0' as Device_Status from n where i < 0;
    )sql");
    const auto outcome =
        load_door_directory(sqlite_settings(file), server, log, DatabaseTimeouts{5, 1});
    EXPECT_EQ(outcome.step, DirectoryStep::load_failed);
    EXPECT_NE(outcome.message.find("time-out"), std::string::npos) << outcome.message;
}

}  // namespace
}  // namespace porvex::test
