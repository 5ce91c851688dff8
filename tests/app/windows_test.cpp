// Windows-only seams: the settings in the registry and the OLE DB door source.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>

#include "core/clock.h"
#include "door_startup.h"
#include "fake_link.h"
#include "settings/registry_settings_store.h"

namespace porvex::test {
namespace {

// A key of its own below HKEY_LOCAL_MACHINE, removed afterwards.
class PrivateKey {
  public:
    PrivateKey() : path_("Software\\PorvexTest\\" + std::to_string(GetCurrentProcessId())) {}
    ~PrivateKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\PorvexTest"); }
    const std::string& path() const { return path_; }

    HKEY open() const {
        HKEY key = nullptr;
        const std::wstring wide(path_.begin(), path_.end());
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        return key;
    }

  private:
    std::string path_;
};

TEST(RegistrySettingsStore, SettingsRoundTripWithChineseText) {
    PrivateKey key;
    RegistrySettingsStore store(key.path());
    Settings s;
    s.db_type = 2;
    s.server = "C:\\门禁\\doors.db";
    s.database = "库";
    s.password = "密码";
    s.refresh = "10";
    s.points.set(PointKind::door_state).set(PointKind::remote_open);
    ASSERT_TRUE(save_settings(store, s));
    const Settings back = read_settings(store);
    EXPECT_EQ(back.db_type, 2);
    EXPECT_EQ(back.server, s.server);
    EXPECT_EQ(back.database, s.database);
    EXPECT_EQ(back.password, s.password);
    EXPECT_EQ(back.points, s.points);

    // The values carry the registry types the settings page always wrote.
    HKEY raw = key.open();
    DWORD type = 0;
    RegQueryValueExW(raw, L"OPCDBTYPE", nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegQueryValueExW(raw, L"OPCDoorState", nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(raw);
}

TEST(RegistrySettingsStore, AStringDatabaseKindStopsTheReading) {
    PrivateKey key;
    HKEY raw = key.open();
    const wchar_t two[] = L"2";
    RegSetValueExW(raw, L"OPCDBTYPE", 0, REG_SZ, reinterpret_cast<const BYTE*>(two), sizeof two);
    const wchar_t ip[] = L"x.db";
    RegSetValueExW(raw, L"OPCIP", 0, REG_SZ, reinterpret_cast<const BYTE*>(ip), sizeof ip);
    RegCloseKey(raw);
    RegistrySettingsStore store(key.path());
    const Settings s = read_settings(store);
    EXPECT_TRUE(s.server.empty());
    EXPECT_FALSE(configuration_complete(s));
}

TEST(RegistrySettingsStore, AbsentStringsReadEmptyAndOtherTypesStop) {
    PrivateKey key;
    HKEY raw = key.open();
    const DWORD kind = 3;
    RegSetValueExW(raw, L"OPCDBTYPE", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind),
                   sizeof kind);
    const wchar_t dsn[] = L"DSN=doors";  // stored without its NUL
    RegSetValueExW(raw, L"OPCIP", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(dsn),
                   sizeof dsn - sizeof(wchar_t));
    const DWORD number = 7;
    RegSetValueExW(raw, L"OPCPsw", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegCloseKey(raw);
    RegistrySettingsStore store(key.path());
    const Settings s = read_settings(store);
    EXPECT_EQ(s.db_type, 3);
    EXPECT_EQ(s.server, "DSN=doors");
    EXPECT_EQ(s.database, "");
    EXPECT_EQ(s.password, "");  // not a string: reading ended here
    EXPECT_TRUE(configuration_complete(s));
}

TEST(RegistrySettingsStore, TheProgramsKeyOpens) {
    RegistrySettingsStore store;
    EXPECT_NE(store.open(), nullptr);
}

class OleDbTest : public ::testing::TestWithParam<int> {};

TEST_P(OleDbTest, AMissingProviderFailsQuicklyWithTheConnectionNotice) {
    ManualClock clock;
    FakeLink link;
    MemoryLog log;
    DoorServer server(PointSet::all(), link, clock, log);
    Settings s;
    s.db_type = GetParam();
    s.server = "db-server";
    s.database = "ZEL";
    s.user = "sa";
    s.password = "pw";
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = load_door_directory(s, server, log);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.step, DirectoryStep::database_failed);
    EXPECT_EQ(outcome.message, "数据库连接失败，请检查系统配置是否正确！");
    EXPECT_LT(elapsed, std::chrono::seconds(5));  // no prompt, no hang
    EXPECT_TRUE(log.contains("OLE DB")) << (log.lines().empty() ? "" : log.lines()[0]);
    EXPECT_EQ(server.door_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(SqlServerAndOracle, OleDbTest, ::testing::Values(0, 1));

}  // namespace
}  // namespace porvex::test
