#include "db/door_loader.h"

#include <cmath>
#include <cstdio>

#include "core/text.h"

namespace porvex {

std::string text_of(const DbValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", *real);
        return buffer;
    }
    return {};
}

std::int32_t integer_of(const DbValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        throw DatabaseQueryError("NULL where a reader number is required");
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        if (*integer < INT32_MIN || *integer > INT32_MAX) {
            throw DatabaseQueryError("reader number " + std::to_string(*integer) + " out of range");
        }
        return static_cast<std::int32_t>(*integer);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        if (std::trunc(*real) != *real || *real < INT32_MIN || *real > INT32_MAX) {
            throw DatabaseQueryError("reader number " + text_of(value) + " is not a whole number");
        }
        return static_cast<std::int32_t>(*real);
    }
    const std::string& text = std::get<std::string>(value);
    // Numeric columns reached as text (ODBC, OLE DB) may carry a fraction of zeros.
    if (const auto number = parse_int(trim_blanks(text))) {
        return *number;
    }
    if (const auto real = parse_float(text);
        real && std::trunc(*real) == *real && *real >= INT32_MIN && *real <= INT32_MAX) {
        return static_cast<std::int32_t>(*real);
    }
    throw DatabaseQueryError("'" + text + "' is not a valid reader number");
}

DoorRow door_row(const DoorRowValues& values) {
    DoorRow row;
    row.name = text_of(values[0]);
    row.location = text_of(values[1]);
    row.ip = text_of(values[2]);
    row.port = text_of(values[3]);
    row.in_reader = integer_of(values[4]);
    row.out_reader = integer_of(values[5]);
    return row;
}

void read_door_rows(DoorCursor& cursor, std::vector<DoorRow>& rows) {
    DoorRowValues values;
    for (std::size_t read = 1;; ++read) {
        try {
            if (!cursor.next(values)) {
                return;
            }
            rows.push_back(door_row(values));
        } catch (const DatabaseQueryError& e) {
            throw DatabaseQueryError("door row " + std::to_string(read) + ": " + e.what());
        }
    }
}

DirectoryOutcome read_door_directory(const Settings& settings, LogSink& log,
                                     const DatabaseTimeouts& timeouts) {
    DirectoryOutcome outcome;
    if (!configuration_complete(settings)) {
        outcome.step = DirectoryStep::not_configured;
        outcome.message = std::string(kNotConfiguredText);
        outcome.dialog_text = outcome.message;
        return outcome;
    }
    std::unique_ptr<DoorDatabase> database;
    try {
        database = connect_door_database(settings, timeouts);
    } catch (const DatabaseConnectError& e) {
        log.write(LogLevel::error, std::string("door database: ") + e.what());
        outcome.step = DirectoryStep::database_failed;
        outcome.message = std::string(kDatabaseFailedText);
        outcome.dialog_text = outcome.message + "\n" + e.what();
        return outcome;
    }
    try {
        auto cursor = database->query_doors();
        const long long announced = cursor->record_count();
        read_door_rows(*cursor, outcome.rows);
        outcome.doors = outcome.rows.size();
        if (announced >= 0 && static_cast<std::size_t>(announced) != outcome.doors) {
            log.write(LogLevel::warning, "door database announced " + std::to_string(announced) +
                                             " rows and delivered " +
                                             std::to_string(outcome.doors));
        }
    } catch (const std::exception& e) {
        outcome.doors = outcome.rows.size();
        outcome.step = DirectoryStep::load_failed;
        outcome.message = e.what();
        outcome.dialog_text = std::string(kDoorListFailedText) + "\n" + e.what();
        log.write(LogLevel::error, std::string("door directory: ") + e.what());
        return outcome;
    }
    outcome.step = DirectoryStep::loaded;
    return outcome;
}

}  // namespace porvex
