#include "settings/settings.h"

#include <array>

#include "core/text.h"

namespace porvex {

namespace {

constexpr int kDefaultRefresh = 10;

// The enable values in the order they are read and written.
constexpr std::array<PointKind, kPointKindCount> kEnableOrder{
    PointKind::door_state,   PointKind::last_card, PointKind::remote_open,
    PointKind::invalid_card, PointKind::tamper,    PointKind::door_open_state,
    PointKind::contact_alarm};

}  // namespace

Settings read_settings(SettingsStore& store) {
    Settings s;
    const auto key = store.open();
    if (!key) {
        return s;
    }
    const auto db_type = key->read_integer(setting::kDbType);
    if (!db_type) {
        return s;
    }
    s.db_type = *db_type;
    const std::array<std::pair<std::string_view, std::string*>, 5> texts{{
        {setting::kServer, &s.server},
        {setting::kDatabase, &s.database},
        {setting::kUser, &s.user},
        {setting::kPassword, &s.password},
        {setting::kRefresh, &s.refresh},
    }};
    for (const auto& [name, target] : texts) {
        auto value = key->read_string(name);
        if (!value) {
            return s;
        }
        *target = std::move(*value);
    }
    for (PointKind kind : kEnableOrder) {
        const auto value = key->read_string(info(kind).setting);
        if (!value) {
            return s;
        }
        s.points.set(kind, *value == "1");
    }
    return s;
}

bool save_settings(SettingsStore& store, const Settings& settings) {
    const auto key = store.open();
    if (!key) {
        return false;
    }
    bool ok = key->write_integer(setting::kDbType, settings.db_type);
    ok = key->write_string(setting::kServer, settings.server) && ok;
    ok = key->write_string(setting::kDatabase, settings.database) && ok;
    ok = key->write_string(setting::kUser, settings.user) && ok;
    ok = key->write_string(setting::kPassword, settings.password) && ok;
    ok = key->write_string(setting::kRefresh, settings.refresh) && ok;
    for (PointKind kind : kEnableOrder) {
        ok = key->write_string(info(kind).setting, settings.points.has(kind) ? "1" : "0") && ok;
    }
    return ok;
}

bool configuration_complete(const Settings& settings) {
    if (settings.server.empty()) {
        return false;
    }
    switch (static_cast<DatabaseKind>(settings.db_type)) {
        case DatabaseKind::sql_server:
            return !settings.database.empty();
        case DatabaseKind::oracle:
        case DatabaseKind::sqlite:
        case DatabaseKind::odbc:
            return true;
    }
    return false;
}

std::string refresh_text(const Settings& settings) {
    return settings.refresh.empty() ? std::to_string(kDefaultRefresh) : settings.refresh;
}

int refresh_seconds(std::string_view text) { return parse_int(text).value_or(kDefaultRefresh); }

std::string sql_server_connection_string(const Settings& s) {
    return "Provider=SQLOLEDB.1; Password=" + s.password + ";" + "Persist Security Info=True;" +
           "User ID=" + s.user + ";" + "Initial Catalog= " + s.database +
           ";Data Source=" + s.server;
}

std::string oracle_connection_string(const Settings& s) {
    return "Provider=MSDAORA.1;Password=" + s.password +
           ";Persist Security Info=True;User ID=" + s.user + ";Data Source=" + s.server;
}

}  // namespace porvex
