// Loading the door directory at start-up: the configuration test, the database
// connection, the door query read to its end, and the value holders.
#pragma once

#include <string>
#include <string_view>

#include "core/log.h"
#include "db/door_database.h"
#include "door_server.h"

namespace porvex {

// Column values as the directory takes them: NULL gives empty text; an integer column
// that is NULL or not a whole number is an error of its row.
std::string text_of(const DbValue& value);
std::int32_t integer_of(const DbValue& value);  // throws DatabaseQueryError
DoorRow door_row(const DoorRowValues& values);  // throws DatabaseQueryError

// Adds every row of the cursor to the server, in order, to the end of the result.
// Throws DatabaseQueryError naming the row that failed; rows before it stay loaded.
std::size_t load_doors(DoorServer& server, DoorCursor& cursor);

enum class DirectoryStep {
    not_configured,   // show kNotConfiguredText and open the settings page
    database_failed,  // show kDatabaseFailedText and open the settings page
    load_failed,      // the query or a row failed: message says why; no value holders
    loaded,           // doors loaded and every leaf has its value holder
};

struct DirectoryOutcome {
    DirectoryStep step = DirectoryStep::not_configured;
    std::size_t doors = 0;
    std::string message;  // the text to show, or the error
    // What the operator's dialog says: the step's text and, after a database failure
    // (connection, query, a bad row), the database's own message on the next line.
    std::string dialog_text;
};

// The dialog's first line when the door list could not be read to its end.
inline constexpr std::string_view kDoorListFailedText = "门禁列表读取失败，请检查数据库！";

// Start-up steps after reading the settings: configuration test, connect, load,
// disconnect, value holders. Errors are also written to the log.
DirectoryOutcome load_door_directory(const Settings& settings, DoorServer& server, LogSink& log,
                                     const DatabaseTimeouts& timeouts = {});

}  // namespace porvex
