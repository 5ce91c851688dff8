#include "door_db_list.h"

#include <set>

#include "db/door_database.h"
#include "db/door_loader.h"
#include "doors/door_record.h"

namespace ctlsim {

ControllerList load_door_db(const std::string& path) {
    ControllerList list;
    try {
        porvex::Settings settings;
        settings.db_type = static_cast<int>(porvex::DatabaseKind::sqlite);
        settings.server = path;
        auto database = porvex::connect_door_database(settings);
        auto cursor = database->query_doors();
        std::set<std::pair<std::string, int>> seen;
        porvex::DoorRowValues values;
        std::size_t row = 0;
        while (cursor->next(values)) {
            ++row;
            const std::string where = path + ": door " + std::to_string(row);
            // Only the address columns matter here; a row the door server would refuse
            // for its readers still names a controller.
            const std::string ip = porvex::text_of(values[2]);
            const int port = porvex::link_port(porvex::text_of(values[3]));
            const std::string host = ip == "localhost" ? std::string(kServedHost) : ip;
            if (host != kServedHost) {
                list.warnings.push_back(where + ": " + ip + " skipped (only " +
                                        std::string(kServedHost) + " is served)");
                continue;
            }
            if (port < 1 || port > 65535) {
                list.warnings.push_back(where + ": port " + std::to_string(port) + " skipped");
                continue;
            }
            if (seen.insert({host, port}).second) {
                list.controllers.push_back({host, static_cast<std::uint16_t>(port)});
            }
        }
    } catch (const std::exception& e) {
        list.controllers.clear();
        list.error = "door database " + path + ": " + e.what();
    }
    return list;
}

}  // namespace ctlsim
