// doordb: creates a sample door database (SQLite) and lists the controllers of a door
// database as the door server reads it.
//
//   doordb create FILE [--controllers N] [--doors-per-controller K] [--ip IP]
//                      [--base-port P] [--with-disabled-rows]
//   doordb controllers FILE      one "IP PORT" line per controller, in query order
//   doordb doors FILE            one line per door: name, location, ip, port, readers
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "db/door_database.h"
#include "db/door_loader.h"
#include "sample_door_db.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: doordb create FILE [--controllers N] [--doors-per-controller K]\n"
                 "                          [--ip IP] [--base-port P] [--with-disabled-rows]\n"
                 "       doordb controllers FILE\n"
                 "       doordb doors FILE\n");
    return 2;
}

bool parse_number(const char* text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 1000000) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

int create(int argc, char** argv) {
    porvex::SampleDoorDbOptions options;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--controllers" && has_value && parse_number(argv[i + 1], options.controllers)) {
            ++i;
        } else if (arg == "--doors-per-controller" && has_value &&
                   parse_number(argv[i + 1], options.doors_per_controller)) {
            ++i;
        } else if (arg == "--base-port" && has_value &&
                   parse_number(argv[i + 1], options.base_port)) {
            ++i;
        } else if (arg == "--ip" && has_value) {
            options.ip = argv[++i];
        } else if (arg == "--with-disabled-rows") {
            options.with_disabled_rows = true;
        } else {
            std::fprintf(stderr, "doordb: bad argument '%s'\n", arg.c_str());
            return usage();
        }
    }
    porvex::create_sample_door_db(argv[2], options);
    std::printf("%s: %d controllers, %d doors\n", argv[2], options.controllers,
                options.controllers * options.doors_per_controller);
    return 0;
}

int list(const char* file, bool controllers_only) {
    porvex::Settings settings;
    settings.db_type = static_cast<int>(porvex::DatabaseKind::sqlite);
    settings.server = file;
    auto database = porvex::connect_door_database(settings);
    auto cursor = database->query_doors();
    std::set<std::pair<std::string, std::string>> seen;
    porvex::DoorRowValues values;
    while (cursor->next(values)) {
        const porvex::DoorRow row = porvex::door_row(values);
        if (controllers_only) {
            if (seen.insert({row.ip, row.port}).second) {
                std::printf("%s %s\n", row.ip.c_str(), row.port.c_str());
            }
        } else {
            std::printf("%s\t%s\t%s\t%s\t%d\t%d\n", row.name.c_str(), row.location.c_str(),
                        row.ip.c_str(), row.port.c_str(), row.in_reader, row.out_reader);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    try {
        if (std::strcmp(argv[1], "create") == 0) {
            return create(argc, argv);
        }
        if (std::strcmp(argv[1], "controllers") == 0 && argc == 3) {
            return list(argv[2], true);
        }
        if (std::strcmp(argv[1], "doors") == 0 && argc == 3) {
            return list(argv[2], false);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "doordb: %s\n", e.what());
        return 1;
    }
    return usage();
}
