#include "db/door_database.h"

namespace porvex {

namespace {

constexpr std::string_view kColumns =
    "select Device_Name, Device_Location, Board_IP,Board_Port, InReader,OutReader from ";
constexpr std::string_view kCondition = " b where b.Board_ID = a.Board_ID and Device_Status = '0'";

std::string odbc_value(std::string_view value) {
    const bool reserved = value.find_first_of(";{}=") != std::string_view::npos ||
                          (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!reserved) {
        return std::string(value);
    }
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') {
            out += '}';
        }
    }
    out += '}';
    return out;
}

}  // namespace

std::string door_query(std::string_view schema) {
    std::string q(kColumns);
    if (schema.empty()) {
        q += "ZelB_Board a, ZelB_Device";
    } else {
        q.append(schema).append(".ZelB_Board a, ").append(schema).append(".ZelB_Device");
    }
    q += kCondition;
    return q;
}

std::string odbc_connection_string(const Settings& settings) {
    std::string text = settings.server;
    if (text.find('=') == std::string::npos) {
        text = "DSN=" + odbc_value(text);
    }
    while (!text.empty() && text.back() == ';') {
        text.pop_back();
    }
    if (!settings.user.empty()) {
        text += ";UID=" + odbc_value(settings.user);
    }
    if (!settings.password.empty()) {
        text += ";PWD=" + odbc_value(settings.password);
    }
    return text;
}

std::unique_ptr<DoorDatabase> connect_door_database(const Settings& settings,
                                                    const DatabaseTimeouts& timeouts) {
    switch (static_cast<DatabaseKind>(settings.db_type)) {
        case DatabaseKind::sql_server:
            return open_oledb_door_database(sql_server_connection_string(settings), door_query(),
                                            timeouts);
        case DatabaseKind::oracle:
            // The Oracle form always names the schema, also when "OPCDB" is empty.
            return open_oledb_door_database(oracle_connection_string(settings),
                                            std::string(kColumns) + settings.database +
                                                ".ZelB_Board a, " + settings.database +
                                                ".ZelB_Device" + std::string(kCondition),
                                            timeouts);
        case DatabaseKind::sqlite:
            return open_sqlite_door_database(settings.server, timeouts);
        case DatabaseKind::odbc:
            return open_odbc_door_database(odbc_connection_string(settings), settings.database,
                                           timeouts);
    }
    throw DatabaseConnectError("unknown database kind " + std::to_string(settings.db_type));
}

}  // namespace porvex
