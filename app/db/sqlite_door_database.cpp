// Kind 2: the door list in an SQLite database file ("OPCIP" is its path). The file is
// opened read-only, so a missing file is an error and never a new empty database;
// a writer holding the file gets 5 seconds (busy time-out), and the query as a whole
// gets 5 seconds before it is interrupted.
#include <sqlite3.h>

#include <chrono>

#include "db/door_database.h"

namespace porvex {

namespace {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
// Shared by the database and its cursors, so a cursor never outlives its connection.
using SqliteHandle = std::shared_ptr<sqlite3>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Interrupts a statement that runs past its deadline.
struct Deadline {
    std::chrono::steady_clock::time_point at;

    static int check(void* self) {
        const auto* deadline = static_cast<const Deadline*>(self);
        return std::chrono::steady_clock::now() > deadline->at ? 1 : 0;
    }
};

constexpr int kProgressSteps = 1000;

class SqliteDoorCursor final : public DoorCursor {
  public:
    SqliteDoorCursor(SqliteHandle db, StatementHandle statement, std::shared_ptr<Deadline> deadline)
        : db_handle_(std::move(db)),
          db_(db_handle_.get()),
          statement_(std::move(statement)),
          deadline_(std::move(deadline)) {}

    ~SqliteDoorCursor() override {
        statement_.reset();
        sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    }

    bool next(DoorRowValues& row) override {
        if (done_) {
            return false;
        }
        const int rc = sqlite3_step(statement_.get());
        if (rc == SQLITE_DONE) {
            done_ = true;
            return false;
        }
        if (rc != SQLITE_ROW) {
            done_ = true;
            if (rc == SQLITE_INTERRUPT) {
                throw DatabaseQueryError("door query took longer than its time-out");
            }
            throw DatabaseQueryError(std::string("door query failed: ") + sqlite3_errmsg(db_));
        }
        for (int column = 0; column < static_cast<int>(kDoorColumns); ++column) {
            row[column] = value(column);
        }
        return true;
    }

  private:
    DbValue value(int column) const {
        sqlite3_stmt* s = statement_.get();
        switch (sqlite3_column_type(s, column)) {
            case SQLITE_NULL:
                return std::monostate{};
            case SQLITE_INTEGER:
                return static_cast<std::int64_t>(sqlite3_column_int64(s, column));
            case SQLITE_FLOAT:
                return sqlite3_column_double(s, column);
            default: {
                const auto* text = sqlite3_column_text(s, column);
                const int size = sqlite3_column_bytes(s, column);
                return std::string(reinterpret_cast<const char*>(text), size > 0 ? size : 0);
            }
        }
    }

    SqliteHandle db_handle_;
    sqlite3* db_;
    StatementHandle statement_;
    std::shared_ptr<Deadline> deadline_;
    bool done_ = false;
};

class SqliteDoorDatabase final : public DoorDatabase {
  public:
    SqliteDoorDatabase(SqliteHandle db, const DatabaseTimeouts& timeouts)
        : db_(std::move(db)), timeouts_(timeouts) {}

    std::unique_ptr<DoorCursor> query_doors() override {
        auto deadline = std::make_shared<Deadline>();
        deadline->at =
            std::chrono::steady_clock::now() + std::chrono::seconds(timeouts_.query_seconds);
        sqlite3_progress_handler(db_.get(), kProgressSteps, &Deadline::check, deadline.get());
        sqlite3_stmt* raw = nullptr;
        const std::string query = door_query();
        const int rc = sqlite3_prepare_v2(db_.get(), query.c_str(), -1, &raw, nullptr);
        StatementHandle statement(raw);
        if (rc != SQLITE_OK) {
            sqlite3_progress_handler(db_.get(), 0, nullptr, nullptr);
            throw DatabaseQueryError(std::string("door query failed: ") +
                                     sqlite3_errmsg(db_.get()));
        }
        if (sqlite3_column_count(raw) < static_cast<int>(kDoorColumns)) {
            sqlite3_progress_handler(db_.get(), 0, nullptr, nullptr);
            throw DatabaseQueryError("door query returned fewer than six columns");
        }
        return std::make_unique<SqliteDoorCursor>(db_, std::move(statement), std::move(deadline));
    }

  private:
    SqliteHandle db_;
    DatabaseTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<DoorDatabase> open_sqlite_door_database(const std::string& path,
                                                        const DatabaseTimeouts& timeouts) {
    if (path.empty()) {
        throw DatabaseConnectError("no SQLite database file named");
    }
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw, SqliteCloser{});
    if (rc != SQLITE_OK) {
        throw DatabaseConnectError("cannot open SQLite database '" + path +
                                   "': " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    sqlite3_busy_timeout(db.get(), timeouts.connect_seconds * 1000);
    // Reading the schema tells a database from any other file.
    sqlite3_stmt* check = nullptr;
    int check_rc =
        sqlite3_prepare_v2(db.get(), "select count(*) from sqlite_master", -1, &check, nullptr);
    StatementHandle statement(check);
    if (check_rc == SQLITE_OK) {
        check_rc = sqlite3_step(check);
    }
    if (check_rc != SQLITE_ROW) {
        throw DatabaseConnectError("cannot read SQLite database '" + path +
                                   "': " + sqlite3_errmsg(db.get()));
    }
    return std::make_unique<SqliteDoorDatabase>(std::move(db), timeouts);
}

}  // namespace porvex
