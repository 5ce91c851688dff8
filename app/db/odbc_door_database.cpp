// Kind 3: the door list from any database with an ODBC driver. The connection string
// comes from the settings (odbc_connection_string); log-in and query each get 5
// seconds; no driver may prompt. Text travels through the wide (UTF-16) functions, so
// Chinese door names arrive intact whatever the driver's 8-bit code page.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <vector>

#include "core/utf.h"
#include "db/door_database.h"

namespace porvex {

namespace {

using WideString = std::basic_string<SQLWCHAR>;

WideString to_wide(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    return WideString(units.begin(), units.end());
}

std::string from_wide(const SQLWCHAR* text, std::size_t length) {
    std::u16string units(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) {
        units[i] = static_cast<char16_t>(text[i]);
    }
    return utf16_to_utf8(units);
}

// The driver's diagnostic records of a handle, as one line.
std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string out;
    for (SQLSMALLINT record = 1; record <= 5; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                            static_cast<SQLSMALLINT>(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        if (!out.empty()) {
            out += "; ";
        }
        const std::size_t size = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(message) - 1);
        out += "[" + from_wide(state, 5) + "] " + from_wide(message, size);
    }
    return out.empty() ? std::string("no diagnostics") : out;
}

class OdbcHandle {
  public:
    OdbcHandle() = default;
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
            handle_ = SQL_NULL_HANDLE;
        }
    }
    ~OdbcHandle() { reset(); }
    OdbcHandle(OdbcHandle&& other) noexcept : type_(other.type_), handle_(other.handle_) {
        other.handle_ = SQL_NULL_HANDLE;
    }
    OdbcHandle& operator=(OdbcHandle&& other) noexcept {
        if (this != &other) {
            reset();
            type_ = other.type_;
            handle_ = other.handle_;
            other.handle_ = SQL_NULL_HANDLE;
        }
        return *this;
    }

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

  private:
    void reset() {
        if (handle_ != SQL_NULL_HANDLE) {
            SQLFreeHandle(type_, handle_);
            handle_ = SQL_NULL_HANDLE;
        }
    }

    SQLSMALLINT type_ = SQL_HANDLE_ENV;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// An open connection; disconnects before its handles are freed.
struct Connection {
    OdbcHandle env;
    OdbcHandle dbc;
    bool connected = false;

    ~Connection() {
        if (connected) {
            SQLDisconnect(dbc.get());
        }
    }
};

class OdbcDoorCursor final : public DoorCursor {
  public:
    OdbcDoorCursor(std::shared_ptr<Connection> connection, OdbcHandle statement)
        : connection_(std::move(connection)), statement_(std::move(statement)) {}

    bool next(DoorRowValues& row) override {
        if (done_) {
            return false;
        }
        const SQLRETURN rc = SQLFetch(statement_.get());
        if (rc == SQL_NO_DATA) {
            done_ = true;
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            done_ = true;
            throw DatabaseQueryError("reading door rows failed: " +
                                     diagnostics(SQL_HANDLE_STMT, statement_.get()));
        }
        for (SQLUSMALLINT column = 0; column < kDoorColumns; ++column) {
            row[column] = text(column + 1);
        }
        return true;
    }

  private:
    // A column as text (NULL as monostate), read in pieces of any length.
    DbValue text(SQLUSMALLINT column) {
        std::vector<SQLWCHAR> collected;
        SQLWCHAR buffer[512];
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_WCHAR, buffer,
                                            sizeof buffer, &indicator);
            if (rc == SQL_NO_DATA) {
                break;
            }
            if (!SQL_SUCCEEDED(rc)) {
                throw DatabaseQueryError("reading column " + std::to_string(column) + " failed: " +
                                         diagnostics(SQL_HANDLE_STMT, statement_.get()));
            }
            if (indicator == SQL_NULL_DATA) {
                return std::monostate{};
            }
            const std::size_t capacity = std::size(buffer) - 1;  // one unit for the NUL
            std::size_t units = capacity;
            if (indicator != SQL_NO_TOTAL && indicator >= 0) {
                units = std::min(capacity, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
            }
            collected.insert(collected.end(), buffer, buffer + units);
            if (rc == SQL_SUCCESS) {
                break;
            }
        }
        return from_wide(collected.data(), collected.size());
    }

    std::shared_ptr<Connection> connection_;
    OdbcHandle statement_;
    bool done_ = false;
};

class OdbcDoorDatabase final : public DoorDatabase {
  public:
    OdbcDoorDatabase(std::shared_ptr<Connection> connection, std::string schema,
                     const DatabaseTimeouts& timeouts)
        : connection_(std::move(connection)), schema_(std::move(schema)), timeouts_(timeouts) {}

    std::unique_ptr<DoorCursor> query_doors() override {
        OdbcHandle statement(SQL_HANDLE_STMT, connection_->dbc.get());
        if (!statement) {
            throw DatabaseQueryError("cannot create an ODBC statement: " +
                                     diagnostics(SQL_HANDLE_DBC, connection_->dbc.get()));
        }
        SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts_.query_seconds)),
                       0);
        WideString query = to_wide(door_query(schema_));
        const SQLRETURN rc =
            SQLExecDirectW(statement.get(), query.data(), static_cast<SQLINTEGER>(query.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            throw DatabaseQueryError("door query failed: " +
                                     diagnostics(SQL_HANDLE_STMT, statement.get()));
        }
        SQLSMALLINT columns = 0;
        SQLNumResultCols(statement.get(), &columns);
        if (columns < static_cast<SQLSMALLINT>(kDoorColumns)) {
            throw DatabaseQueryError("door query returned fewer than six columns");
        }
        return std::make_unique<OdbcDoorCursor>(connection_, std::move(statement));
    }

  private:
    std::shared_ptr<Connection> connection_;
    std::string schema_;
    DatabaseTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<DoorDatabase> open_odbc_door_database(const std::string& connection_string,
                                                      std::string schema,
                                                      const DatabaseTimeouts& timeouts) {
    auto connection = std::make_shared<Connection>();
    connection->env = OdbcHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!connection->env) {
        throw DatabaseConnectError("ODBC is not available (no environment handle)");
    }
    SQLSetEnvAttr(connection->env.get(), SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    connection->dbc = OdbcHandle(SQL_HANDLE_DBC, connection->env.get());
    if (!connection->dbc) {
        throw DatabaseConnectError("cannot create an ODBC connection: " +
                                   diagnostics(SQL_HANDLE_ENV, connection->env.get()));
    }
    const auto seconds =
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts.connect_seconds));
    SQLSetConnectAttr(connection->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, seconds, 0);
    SQLSetConnectAttr(connection->dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, seconds, 0);
    SQLSetConnectAttr(connection->dbc.get(), SQL_ATTR_ACCESS_MODE,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_MODE_READ_ONLY)), 0);

    WideString text = to_wide(connection_string);
    SQLWCHAR completed[1024];
    SQLSMALLINT completed_length = 0;
    const SQLRETURN rc = SQLDriverConnectW(connection->dbc.get(), nullptr, text.data(),
                                           static_cast<SQLSMALLINT>(text.size()), completed,
                                           static_cast<SQLSMALLINT>(std::size(completed)),
                                           &completed_length, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        throw DatabaseConnectError("ODBC connection failed: " +
                                   diagnostics(SQL_HANDLE_DBC, connection->dbc.get()));
    }
    connection->connected = true;
    return std::make_unique<OdbcDoorDatabase>(std::move(connection), std::move(schema), timeouts);
}

}  // namespace porvex
