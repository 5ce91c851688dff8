#include "settings/settings.h"

#include <gtest/gtest.h>

#include "settings/memory_settings_store.h"

namespace porvex {
namespace {

void fill(MemorySettingsStore& store) {
    store.set("OPCDBTYPE", std::int32_t{0});
    store.set("OPCIP", std::string("db-server"));
    store.set("OPCDB", std::string("acs"));
    store.set("OPCUser", std::string("sa"));
    store.set("OPCPsw", std::string("secret"));
    store.set("OPCRefresh", std::string("15"));
    for (const char* name : {"OPCDoorState", "OPCDoorCard", "OPCDoorOpen", "OPCInvCard",
                             "OPCPryAlarm", "OPCOpenClose", "OPCAlarmType"}) {
        store.set(name, std::string("1"));
    }
}

TEST(ReadSettings, EveryValuePresent) {
    MemorySettingsStore store;
    fill(store);
    const Settings s = read_settings(store);
    EXPECT_EQ(s.db_type, 0);
    EXPECT_EQ(s.server, "db-server");
    EXPECT_EQ(s.database, "acs");
    EXPECT_EQ(s.user, "sa");
    EXPECT_EQ(s.password, "secret");
    EXPECT_EQ(s.refresh, "15");
    EXPECT_EQ(s.points, PointSet::all());
}

TEST(ReadSettings, OnlyAnExactOneEnablesAPoint) {
    MemorySettingsStore store;
    fill(store);
    store.set("OPCDoorState", std::string("true"));
    store.set("OPCDoorCard", std::string(" 1"));
    store.remove("OPCInvCard");
    const Settings s = read_settings(store);
    EXPECT_FALSE(s.points.has(PointKind::door_state));
    EXPECT_FALSE(s.points.has(PointKind::last_card));
    EXPECT_FALSE(s.points.has(PointKind::invalid_card));
    EXPECT_TRUE(s.points.has(PointKind::remote_open));
}

TEST(ReadSettings, AnAbsentOrNonIntegerDatabaseKindStopsTheReading) {
    MemorySettingsStore store;
    fill(store);
    store.remove("OPCDBTYPE");
    Settings s = read_settings(store);
    EXPECT_TRUE(s.server.empty());
    EXPECT_EQ(s.points, PointSet());
    EXPECT_FALSE(configuration_complete(s));

    store.set("OPCDBTYPE", std::string("1"));  // a string, not an integer
    s = read_settings(store);
    EXPECT_TRUE(s.server.empty());
}

TEST(ReadSettings, AStringOfTheWrongTypeEndsTheReadingThere) {
    MemorySettingsStore store;
    fill(store);
    store.set("OPCUser", std::int32_t{5});
    const Settings s = read_settings(store);
    EXPECT_EQ(s.database, "acs");
    EXPECT_TRUE(s.user.empty());
    EXPECT_TRUE(s.refresh.empty());
    EXPECT_EQ(s.points, PointSet());
}

TEST(ReadSettings, AbsentStringsAreEmptyAndTheKeyIsCreated) {
    MemorySettingsStore store;
    store.set("OPCDBTYPE", std::int32_t{2});
    const Settings s = read_settings(store);
    EXPECT_EQ(s.db_type, 2);
    EXPECT_TRUE(s.server.empty());
    MemorySettingsStore empty;
    read_settings(empty);
    EXPECT_TRUE(empty.exists());
}

TEST(ReadSettings, AKeyThatCannotBeOpenedIsNotConfigured) {
    MemorySettingsStore store;
    fill(store);
    store.set_openable(false);
    const Settings s = read_settings(store);
    EXPECT_TRUE(s.server.empty());
    EXPECT_FALSE(configuration_complete(s));
    EXPECT_FALSE(save_settings(store, s));
}

TEST(ReadSettings, ValueNamesIgnoreLetterCase) {
    MemorySettingsStore store;
    store.set("opcdbtype", std::int32_t{1});
    store.set("opcip", std::string("orcl"));
    EXPECT_EQ(read_settings(store).server, "orcl");
}

TEST(ConfigurationTest, SqlServerNeedsADatabaseOracleDoesNot) {
    Settings s;
    s.server = "db-server";
    s.db_type = 1;
    EXPECT_TRUE(configuration_complete(s));
    s.db_type = 0;
    EXPECT_FALSE(configuration_complete(s));
    s.database = "acs";
    EXPECT_TRUE(configuration_complete(s));
    s.server.clear();
    EXPECT_FALSE(configuration_complete(s));
}

TEST(ConfigurationTest, EmbeddedAndOdbcKindsNeedOnlyTheServerText) {
    Settings s;
    s.db_type = 2;
    EXPECT_FALSE(configuration_complete(s));
    s.server = "/var/lib/porvex/doors.db";
    EXPECT_TRUE(configuration_complete(s));
    s.db_type = 3;
    EXPECT_TRUE(configuration_complete(s));
    s.db_type = 4;
    EXPECT_FALSE(configuration_complete(s));
}

TEST(Refresh, EmptyShowsTenAndSavingWritesTen) {
    MemorySettingsStore store;
    Settings s;
    EXPECT_EQ(refresh_text(s), "10");
    s.refresh = refresh_text(s);
    ASSERT_TRUE(save_settings(store, s));
    EXPECT_EQ(store.get("OPCRefresh"), MemorySettingsStore::Value(std::string("10")));
    EXPECT_EQ(refresh_seconds("15"), 15);
    EXPECT_EQ(refresh_seconds("abc"), 10);
}

TEST(SaveSettings, WritesEveryValueInItsForm) {
    MemorySettingsStore store;
    Settings s;
    s.db_type = 3;
    s.server = "DSN=doors";
    s.points.set(PointKind::tamper);
    ASSERT_TRUE(save_settings(store, s));
    EXPECT_EQ(store.get("OPCDBTYPE"), MemorySettingsStore::Value(std::int32_t{3}));
    EXPECT_EQ(store.get("OPCPryAlarm"), MemorySettingsStore::Value(std::string("1")));
    EXPECT_EQ(store.get("OPCDoorState"), MemorySettingsStore::Value(std::string("0")));
    EXPECT_EQ(read_settings(store).points, s.points);
}

TEST(ConnectionStrings, ExactlyAsTheProvidersExpectThem) {
    Settings s;
    s.server = "10.1.1.5";
    s.database = "ZEL";
    s.user = "sa";
    s.password = "pw";
    EXPECT_EQ(sql_server_connection_string(s),
              "Provider=SQLOLEDB.1; Password=pw;Persist Security Info=True;User ID=sa;"
              "Initial Catalog= ZEL;Data Source=10.1.1.5");
    EXPECT_EQ(oracle_connection_string(s),
              "Provider=MSDAORA.1;Password=pw;Persist Security Info=True;User ID=sa;"
              "Data Source=10.1.1.5");
}

}  // namespace
}  // namespace porvex
