#include "db/door_loader.h"
#include "door_startup.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/clock.h"
#include "fake_link.h"

namespace porvex::test {
namespace {

// A result set in memory that may announce a record count of its own.
class ListCursor final : public DoorCursor {
  public:
    ListCursor(std::vector<DoorRowValues> rows, long long announced)
        : rows_(std::move(rows)), announced_(announced) {}

    bool next(DoorRowValues& row) override {
        if (next_ >= rows_.size()) {
            return false;
        }
        row = rows_[next_++];
        return true;
    }
    long long record_count() const override { return announced_; }

  private:
    std::vector<DoorRowValues> rows_;
    std::size_t next_ = 0;
    long long announced_;
};

DoorRowValues row(DbValue name, DbValue location, DbValue ip, DbValue port, DbValue in,
                  DbValue out) {
    return {std::move(name), std::move(location), std::move(ip),
            std::move(port), std::move(in),       std::move(out)};
}

class DoorLoaderTest : public ::testing::Test {
  protected:
    ManualClock clock;
    FakeLink link;
    MemoryLog log;
    DoorServer server{PointSet::all(), link, clock, log};
};

TEST_F(DoorLoaderTest, AnUnknownRecordCountIsReadToTheEnd) {
    ListCursor cursor(
        {row("东门", "一层", "10.0.0.1", std::int64_t{5768}, std::int64_t{1}, std::int64_t{2}),
         row("西门", "一层", "10.0.0.1", "5768", "4", std::int64_t{0})},
        -1);
    std::vector<DoorRow> rows;
    read_door_rows(cursor, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].port, "5768");
    EXPECT_EQ(rows[1].in_reader, 4);
}

TEST_F(DoorLoaderTest, NullLocationGivesEmptyParentheses) {
    ListCursor cursor(
        {row("东门", std::monostate{}, "10.0.0.1", "5768", std::int64_t{1}, std::int64_t{0})}, 1);
    std::vector<DoorRow> rows;
    read_door_rows(cursor, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].location, "");
    server.add_door(rows[0]);
    EXPECT_EQ(server.node_text(server.door(0).door_node), "东门()");
}

TEST_F(DoorLoaderTest, ANullReaderEndsLoadingAtItsRowAndKeepsTheRowsBefore) {
    ListCursor cursor({row("a", "", "10.0.0.1", "5768", std::int64_t{1}, std::int64_t{0}),
                       row("b", "", "10.0.0.1", "5768", std::monostate{}, std::int64_t{0}),
                       row("c", "", "10.0.0.1", "5768", std::int64_t{4}, std::int64_t{0})},
                      3);
    std::vector<DoorRow> rows;
    try {
        read_door_rows(cursor, rows);
        FAIL() << "no error";
    } catch (const DatabaseQueryError& e) {
        EXPECT_NE(std::string(e.what()).find("door row 2"), std::string::npos) << e.what();
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "a");
}

TEST_F(DoorLoaderTest, DuplicateKeysLeaveTheSecondDoorWithoutEvents) {
    ListCursor cursor({row("a", "", "10.0.0.1", "5768", std::int64_t{1}, std::int64_t{0}),
                       row("b", "", "10.0.0.1", "5768", std::int64_t{1}, std::int64_t{2})},
                      2);
    std::vector<DoorRow> rows;
    read_door_rows(cursor, rows);
    for (const DoorRow& r : rows) {
        server.add_door(r);
    }
    const DoorRecord* by_key_1 =
        server.inspect([](const DoorDirectory& d) { return d.FindDoor("10.0.0.1", 5768, 1); });
    const DoorRecord* by_key_2 =
        server.inspect([](const DoorDirectory& d) { return d.FindDoor("10.0.0.1", 5768, 2); });
    EXPECT_EQ(by_key_1->index, 0u);
    EXPECT_EQ(by_key_2->index, 1u);
}

TEST(IntegerOf, AcceptsWholeNumbersInAnyFormAndRefusesTheRest) {
    EXPECT_EQ(integer_of(std::int64_t{8}), 8);
    EXPECT_EQ(integer_of(8.0), 8);
    EXPECT_EQ(integer_of(std::string("16")), 16);
    EXPECT_EQ(integer_of(std::string("16.000")), 16);
    EXPECT_THROW(integer_of(std::monostate{}), DatabaseQueryError);
    EXPECT_THROW(integer_of(std::string("x")), DatabaseQueryError);
    EXPECT_THROW(integer_of(2.5), DatabaseQueryError);
    EXPECT_THROW(integer_of(std::int64_t{1} << 40), DatabaseQueryError);
    EXPECT_EQ(text_of(2.5), "2.5");
    EXPECT_EQ(text_of(std::monostate{}), "");
}

TEST_F(DoorLoaderTest, IncompleteSettingsNeverReachTheDatabase) {
    Settings settings;
    settings.db_type = 0;
    settings.server = "db-server";
    const auto outcome = load_door_directory(settings, server, log);
    EXPECT_EQ(outcome.step, DirectoryStep::not_configured);
    EXPECT_EQ(outcome.message, "系统没有配置，请检查！");
}

#ifndef _WIN32
TEST_F(DoorLoaderTest, OleDbKindsFailToConnectAwayFromWindows) {
    Settings settings;
    settings.db_type = 1;
    settings.server = "orcl";
    const auto outcome = load_door_directory(settings, server, log);
    EXPECT_EQ(outcome.step, DirectoryStep::database_failed);
    EXPECT_EQ(outcome.message, "数据库连接失败，请检查系统配置是否正确！");
    EXPECT_TRUE(log.contains("OLE DB"));
}
#endif

TEST(DoorQuery, PlainAndSchemaQualifiedForms) {
    EXPECT_EQ(door_query(),
              "select Device_Name, Device_Location, Board_IP,Board_Port, InReader,OutReader "
              "from ZelB_Board a, ZelB_Device b where b.Board_ID = a.Board_ID and "
              "Device_Status = '0'");
    EXPECT_EQ(door_query("ACS"),
              "select Device_Name, Device_Location, Board_IP,Board_Port, InReader,OutReader "
              "from ACS.ZelB_Board a, ACS.ZelB_Device b where b.Board_ID = a.Board_ID and "
              "Device_Status = '0'");
}

TEST(OdbcConnectionString, DsnOrWholeStringWithCredentials) {
    Settings s;
    s.server = "doors";
    EXPECT_EQ(odbc_connection_string(s), "DSN=doors");
    s.user = "opc";
    s.password = "p;w}d";
    EXPECT_EQ(odbc_connection_string(s), "DSN=doors;UID=opc;PWD={p;w}}d}");
    s.server = "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5433;";
    s.password = "plain";
    EXPECT_EQ(odbc_connection_string(s),
              "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5433;UID=opc;PWD=plain");
}

}  // namespace
}  // namespace porvex::test
