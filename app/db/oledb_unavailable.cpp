// OLE DB providers exist only on Windows: away from it, kinds 0 and 1 cannot connect.
#include "db/door_database.h"

namespace porvex {

std::unique_ptr<DoorDatabase> open_oledb_door_database(const std::string&, std::string,
                                                       const DatabaseTimeouts&) {
    throw DatabaseConnectError(
        "SQL Server and Oracle are reached through OLE DB, which exists only on Windows; "
        "use database kind 3 (ODBC) or 2 (SQLite) here");
}

}  // namespace porvex
