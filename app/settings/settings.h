// The program's settings: which database holds the door list and which point kinds
// every door has. Read once at start-up; saving ends the program, so a change takes
// effect at the next start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "doors/point_kind.h"
#include "settings/settings_store.h"

namespace porvex {

// Database kinds ("OPCDBTYPE"). 0 and 1 are reached through OLE DB (Windows only);
// 2 and 3 are this product's additions.
enum class DatabaseKind : std::int32_t {
    sql_server = 0,  // OLE DB "SQLOLEDB.1"
    oracle = 1,      // OLE DB "MSDAORA.1"
    sqlite = 2,      // embedded: "OPCIP" is the database file
    odbc = 3,        // "OPCIP" is a DSN or a whole ODBC connection string
};

// Value names.
namespace setting {
inline constexpr std::string_view kDbType = "OPCDBTYPE";
inline constexpr std::string_view kServer = "OPCIP";
inline constexpr std::string_view kDatabase = "OPCDB";
inline constexpr std::string_view kUser = "OPCUser";
inline constexpr std::string_view kPassword = "OPCPsw";
inline constexpr std::string_view kRefresh = "OPCRefresh";
}  // namespace setting

// Texts the program shows about its settings.
inline constexpr std::string_view kNotConfiguredText = "系统没有配置，请检查！";
inline constexpr std::string_view kDatabaseFailedText = "数据库连接失败，请检查系统配置是否正确！";
inline constexpr std::string_view kRestartNoticeText = "为了保证系统设置有效,请重新启动OPC Server";

struct Settings {
    std::int32_t db_type = 0;  // "OPCDBTYPE"; 0 when absent
    std::string server;        // "OPCIP"
    std::string database;      // "OPCDB"
    std::string user;          // "OPCUser"
    std::string password;      // "OPCPsw" (plain text, as stored)
    std::string refresh;       // "OPCRefresh": seconds as text, may be empty
    PointSet points;           // the seven enable values
};

// Reads the settings in their fixed order: "OPCDBTYPE" (an integer), the five strings,
// then the seven enable values. The first value that cannot be read (in practice an
// absent or non-integer "OPCDBTYPE") ends the reading; values read before it are kept,
// the rest keep their defaults. A key that cannot be opened gives the defaults.
Settings read_settings(SettingsStore& store);

// Writes every value ("1"/"0" for the enable values). False when the key could not be
// opened or a value could not be written.
bool save_settings(SettingsStore& store, const Settings& settings);

// Whether start-up may go on to the database: "OPCIP" set and, for SQL Server, "OPCDB"
// set too. Kinds 2 and 3 need only "OPCIP". An unknown kind is not configured.
bool configuration_complete(const Settings& settings);

// The refresh time as the settings page shows it: "OPCRefresh", or "10" when empty.
std::string refresh_text(const Settings& settings);
// R: the whole number of that text; 10 when it is not one.
int refresh_seconds(std::string_view text);

// OLE DB connection strings of kinds 0 and 1, built from the settings texts as they are.
std::string sql_server_connection_string(const Settings& settings);
std::string oracle_connection_string(const Settings& settings);

}  // namespace porvex
