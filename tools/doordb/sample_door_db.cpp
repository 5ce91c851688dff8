#include "sample_door_db.h"

#include <sqlite3.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace porvex {

const char* const kSampleDoorSchema = R"sql(
create table ZelB_Board (
    Board_ID integer primary key,
    Board_Name text not null,
    Board_IP text not null,
    Board_Port integer not null,
    Board_Type text
);
create table ZelB_Device (
    Device_ID integer primary key,
    Board_ID integer not null references ZelB_Board(Board_ID),
    Device_Name text not null,
    Device_Location text,
    InReader integer not null,
    OutReader integer not null,
    Device_Status char(1) not null default '0'
);
)sql";

namespace {

constexpr std::array<const char*, 8> kPositions{"东门", "西门", "南门",     "北门",
                                                "正门", "侧门", "消防通道", "机房门"};
constexpr std::array<const char*, 8> kAreas{"东侧", "西侧", "南侧",   "北侧",
                                            "大厅", "走廊", "楼梯间", "机房"};
constexpr int kFloors = 20;

std::string building(int controller) {
    const int block = controller / kFloors;
    std::string name(1, static_cast<char>('A' + block % 26));
    if (block >= 26) {
        name += std::to_string(block / 26);
    }
    return name + "栋" + std::to_string(controller % kFloors + 1) + "楼";
}

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

std::unique_ptr<sqlite3_stmt, Finalizer> prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, "prepare");
    return std::unique_ptr<sqlite3_stmt, Finalizer>(s);
}

void bind_text(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string sample_door_name(int controller, int door) {
    return building(controller) + kPositions[static_cast<std::size_t>(door) % kPositions.size()];
}

std::string sample_door_location(int controller, int door) {
    return building(controller) + kAreas[static_cast<std::size_t>(door) % kAreas.size()];
}

void create_sample_door_db(const std::filesystem::path& file, const SampleDoorDbOptions& options) {
    if (options.controllers < 0 || options.doors_per_controller < 1 ||
        options.doors_per_controller > 8) {
        throw std::runtime_error("a controller serves 1 to 8 doors");
    }
    if (!options.ports.empty() &&
        options.ports.size() != static_cast<std::size_t>(options.controllers)) {
        throw std::runtime_error("one port per controller is needed");
    }
    auto port_of = [&](int c) {
        return options.ports.empty() ? options.base_port + c : options.ports[c];
    };
    for (int c = 0; c < options.controllers; ++c) {
        if (port_of(c) < 1 || port_of(c) > 65535) {
            throw std::runtime_error("controller ports must lie within 1..65535");
        }
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    check(rc, raw, "open");
    check(sqlite3_exec(raw, kSampleDoorSchema, nullptr, nullptr, nullptr), raw, "create tables");
    check(sqlite3_exec(raw, "begin", nullptr, nullptr, nullptr), raw, "begin");
    auto board = prepare(raw,
                         "insert into ZelB_Board (Board_ID, Board_Name, Board_IP, Board_Port, "
                         "Board_Type) values (?, ?, ?, ?, 'ZK-8')");
    auto device = prepare(raw,
                          "insert into ZelB_Device (Board_ID, Device_Name, Device_Location, "
                          "InReader, OutReader, Device_Status) values (?, ?, ?, ?, 0, ?)");
    for (int c = 0; c < options.controllers; ++c) {
        sqlite3_reset(board.get());
        sqlite3_bind_int(board.get(), 1, c + 1);
        bind_text(board.get(), 2, building(c) + "控制器");
        bind_text(board.get(), 3, options.ip);
        sqlite3_bind_int(board.get(), 4, port_of(c));
        check(sqlite3_step(board.get()), raw, "insert board");
        const int rows = options.doors_per_controller + (options.with_disabled_rows ? 1 : 0);
        for (int d = 0; d < rows; ++d) {
            const bool disabled = d == options.doors_per_controller;
            sqlite3_reset(device.get());
            sqlite3_bind_int(device.get(), 1, c + 1);
            bind_text(device.get(), 2, disabled ? building(c) + "停用门" : sample_door_name(c, d));
            bind_text(device.get(), 3, sample_door_location(c, d));
            sqlite3_bind_int(device.get(), 4, 1 << (disabled ? 0 : d));
            bind_text(device.get(), 5, disabled ? "1" : "0");
            check(sqlite3_step(device.get()), raw, "insert door");
        }
    }
    board.reset();
    device.reset();
    check(sqlite3_exec(raw, "commit", nullptr, nullptr, nullptr), raw, "commit");
}

}  // namespace porvex
