// The door-source seam: a connection to the access-control database that runs the door
// query and hands back its rows. Three backends: OLE DB (Windows, kinds 0 and 1),
// SQLite (kind 2, embedded) and ODBC (kind 3).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "settings/settings.h"

namespace porvex {

// A column value as the database gave it; monostate is NULL.
using DbValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// The six columns of the door query, by position: Device_Name, Device_Location,
// Board_IP, Board_Port, InReader, OutReader.
inline constexpr std::size_t kDoorColumns = 6;
using DoorRowValues = std::array<DbValue, kDoorColumns>;

// Connecting failed (the program shows kDatabaseFailedText).
class DatabaseConnectError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The query, or reading one of its rows, failed.
class DatabaseQueryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct DatabaseTimeouts {
    int connect_seconds = 5;
    int query_seconds = 5;
};

class DoorCursor {
  public:
    virtual ~DoorCursor() = default;
    // The next row; false at the end of the result. Throws DatabaseQueryError.
    virtual bool next(DoorRowValues& row) = 0;
    // Rows the backend announced before reading, or -1 when it does not know. Only a
    // hint: the loader always reads to the end of the result.
    virtual long long record_count() const { return -1; }
};

class DoorDatabase {
  public:
    virtual ~DoorDatabase() = default;
    // Runs the door query. Throws DatabaseQueryError.
    virtual std::unique_ptr<DoorCursor> query_doors() = 0;
};

// The door query: the plain form, or with every table name qualified by schema.
std::string door_query(std::string_view schema = {});

// Opens the database the settings name. Throws DatabaseConnectError (also for a kind
// this build cannot reach, such as OLE DB away from Windows).
std::unique_ptr<DoorDatabase> connect_door_database(const Settings& settings,
                                                    const DatabaseTimeouts& timeouts = {});

// Backends (each throws DatabaseConnectError).
std::unique_ptr<DoorDatabase> open_sqlite_door_database(const std::string& path,
                                                        const DatabaseTimeouts& timeouts);
std::unique_ptr<DoorDatabase> open_odbc_door_database(const std::string& connection_string,
                                                      std::string schema,
                                                      const DatabaseTimeouts& timeouts);
std::unique_ptr<DoorDatabase> open_oledb_door_database(const std::string& connection_string,
                                                       std::string query,
                                                       const DatabaseTimeouts& timeouts);

// The ODBC connection string of kind 3: "OPCIP" as a whole connection string when it
// holds '=', else as a DSN; "OPCUser" and "OPCPsw" added as UID and PWD (in braces when
// they hold characters the connection-string syntax reserves).
std::string odbc_connection_string(const Settings& settings);

}  // namespace porvex
