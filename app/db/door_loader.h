// Reading the door list at start-up: the configuration test, the database connection
// and the door query read to its end, giving the door rows. Handing them to the door
// server is the caller's (door_startup.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "db/door_database.h"
#include "doors/door_row.h"

namespace porvex {

// Column values as the directory takes them: NULL gives empty text; an integer column
// that is NULL or not a whole number is an error of its row.
std::string text_of(const DbValue& value);
std::int32_t integer_of(const DbValue& value);  // throws DatabaseQueryError
DoorRow door_row(const DoorRowValues& values);  // throws DatabaseQueryError

// Appends every row of the cursor to `rows`, in order, to the end of the result.
// Throws DatabaseQueryError naming the row that failed; the rows before it stay in
// `rows`.
void read_door_rows(DoorCursor& cursor, std::vector<DoorRow>& rows);

enum class DirectoryStep {
    not_configured,   // show kNotConfiguredText and open the settings page
    database_failed,  // show kDatabaseFailedText and open the settings page
    load_failed,      // the query or a row failed: message says why; no value holders
    loaded,           // every row read (and, through door_startup.h, every leaf has
                      // its value holder)
};

struct DirectoryOutcome {
    DirectoryStep step = DirectoryStep::not_configured;
    // The rows read, in query order; after a failed row, the rows before it.
    std::vector<DoorRow> rows;
    std::size_t doors = 0;  // doors loaded (rows read)
    std::string message;    // the text to show, or the error
    // What the operator's dialog says: the step's text and, after a database failure
    // (connection, query, a bad row), the database's own message on the next line.
    std::string dialog_text;
};

// The dialog's first line when the door list could not be read to its end.
inline constexpr std::string_view kDoorListFailedText = "门禁列表读取失败，请检查数据库！";

// Start-up steps after reading the settings: configuration test, connect, read the
// rows, disconnect. Errors are also written to the log.
DirectoryOutcome read_door_directory(const Settings& settings, LogSink& log,
                                     const DatabaseTimeouts& timeouts = {});

}  // namespace porvex
